#include "platform/browser/browser.h"

#include "automation/dispatch_object.h"
#include "platform/ui_effects.h"
#include "platform/window_registry.h"

#include <QString>
#include <QStringList>
#include <QUrl>

namespace krepiks {

namespace {

using namespace automation;

// HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION): what the shell answers when nothing opens a URL.
constexpr HRESULT NoAssociation = hr(0x80070483);

class Browser : public DispatchObject {
public:
    Browser() {
        addProperty(
            u"Visible",
            [this](const DispatchArgs&) { return Variant::fromBool(frame_ != nullptr); },
            [this](const DispatchArgs& args) { setVisible(args.asBool(0)); });
        // Navigate(URL, Flags, TargetFrameName, PostData, Headers): only the address is used.
        addMethod(u"Navigate", 1, 5,
                  [this](const DispatchArgs& args) { navigate(args.asBStr(0)); });
        addProperty(u"LocationURL", [this](const DispatchArgs&) {
            return Variant::fromBStr(BStr(url_.toString().toStdU16String()));
        });
    }

    ~Browser() override { DestroyTopWindow(frame_); }

private:
    void setVisible(bool visible) {
        if (visible && !frame_) {
            frame_ = CreateTopWindow(BrowserFrameClass, u"Internet Explorer");
            // An address given while hidden is shown now.
            if (pending_)
                open();
        } else if (!visible && frame_) {
            DestroyTopWindow(frame_);
            frame_ = nullptr;
        }
    }

    void navigate(const BStr& address) {
        const QString text = QString::fromStdU16String(address.str()).trimmed();
        const QUrl url = QUrl::fromUserInput(text);
        // Only what a web browser shows; anything else would reach arbitrary desktop handlers.
        static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"),
                                         QStringLiteral("ftp"), QStringLiteral("file")};
        if (text.isEmpty() || !url.isValid() || !schemes.contains(url.scheme()))
            throw DispatchError(E_INVALIDARG, 0);
        url_ = url;
        pending_ = true;
        if (frame_)
            open();
    }

    void open() {
        if (!uiEffects().openUrl(url_))
            throw ServerException(
                "No application is associated with the specified file for this operation",
                "InternetExplorer.Application", NoAssociation);
        pending_ = false;
    }

    HWND frame_ = nullptr;
    QUrl url_;
    bool pending_ = false;
};

} // namespace

HRESULT CreateBrowserObject(IDispatch** out) {
    if (!out)
        return E_POINTER;
    *out = new Browser;
    (*out)->AddRef();
    return S_OK;
}

void RegisterBrowserClass() {
    RegisterClassObject(BrowserProgId, &CreateBrowserObject, CLSCTX_LOCAL_SERVER);
}

} // namespace krepiks
