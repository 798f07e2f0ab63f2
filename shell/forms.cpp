#include "shell/forms.h"

#include "about/unit5.h"
#include "catalogue/unit2.h"
#include "design/unit4.h"
#include "shell/unit1.h"
#include "shell/web_address.h"

namespace krepiks {

void OpenMakerWebSite() {
    if (Form1)
        Form1->OpenWebSite(WebAddress);
}

TADOConnection* CatalogueConnection() {
    return Form4 ? Form4->ADOConnection1 : nullptr;
}

void ShowAboutWindow() {
    Form5->exec();
}

void ShowTableWindow() {
    Form2->exec();
}

} // namespace krepiks
