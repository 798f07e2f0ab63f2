#pragma once
// Where the bolt's drawing goes and what its title block says: the file, the designation,
// the material and its density, and the author.
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace krepiks {

struct DrawingChoice {
    QString file;
    QString designation;
    QString material;
    double density = 7.85; // g/cm³
    QString author;
};

class DrawingDialog : public QDialog {
    Q_OBJECT
public:
    DrawingDialog(const DrawingChoice& initial, QWidget* parent = nullptr);

    DrawingChoice choice() const;

    QLineEdit* fileEdit = nullptr;
    QLineEdit* designationEdit = nullptr;
    QLineEdit* materialEdit = nullptr;
    QLineEdit* densityEdit = nullptr;
    QLineEdit* authorEdit = nullptr;
    QPushButton* saveButton = nullptr;

private:
    void browse();
    void check();
};

} // namespace krepiks
