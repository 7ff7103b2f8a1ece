#include "errors/error_dialog.h"

#include "errors/logo.h"

#include <string>
#include <utility>

namespace errors {

namespace {

// Geometry, in the dialog's pixels (before the template's conversion).
constexpr int kWidth = 300;
constexpr int kHeight = 200, kNtExtraHeight = 50;
constexpr int kButtonTop = 88, kNtButtonShift = 24;
constexpr int kButtonWidth = 30, kButtonHeight = 11;
constexpr int kListHeight = 60, kNtListExtra = 18;
constexpr long long kNoPrefix = 0x80; // SS_NOPREFIX: an ampersand shows as itself

rt::Value textBlock(std::string text) {
    return rt::makeBlock("ERRORDIALOG", [text = std::move(text)](rt::Args) { return rt::Value(text); });
}

// A block that asks the dialog to end (the dialog is held weakly: it owns the buttons).
rt::Value endBlock(const std::shared_ptr<dialogs::TDialog>& oDlg, std::shared_ptr<rt::Value> result,
                   rt::Value choice) {
    std::weak_ptr<dialogs::TDialog> weak = oDlg;
    return rt::makeBlock("ERRORDIALOG",
                         [weak, result = std::move(result), choice = std::move(choice)](rt::Args) {
                             if (!choice.isNil()) *result = choice;
                             if (auto d = weak.lock()) d->End();
                             return rt::Value();
                         });
}

std::shared_ptr<dialogs::TButton> button(const std::shared_ptr<dialogs::TDialog>& oDlg, int top, int left,
                                         const char* caption, rt::Value action, bool isDefault) {
    dialogs::TButton::NewArgs a;
    a.nRow = top;
    a.nCol = left;
    a.cCaption = caption;
    a.oWnd = rt::Value(oDlg);
    a.bAction = std::move(action);
    a.nWidth = kButtonWidth;
    a.nHeight = kButtonHeight;
    a.lDefault = isDefault;
    a.lPixel = true;
    return dialogs::TButton::New(a);
}

} // namespace

HBITMAP makeLogoBitmap() {
    return dialogs::bitmapFromPackedDib(kLogoBmp + kBmpFileHeaderSize, kLogoBmpSize - kBmpFileHeaderSize)
        .hBitmap;
}

std::shared_ptr<dialogs::TDialog> buildErrorDialog(const ErrorDialogData& data,
                                                   std::shared_ptr<rt::Value> result) {
    const int count = data.buttonCount();
    const bool nt = data.ntFamily;

    dialogs::TDialog::NewArgs d;
    d.cCaption = "Velloro for Quendar";
    d.nWidth = kWidth;
    d.nHeight = kHeight + (nt ? kNtExtraHeight : 0);
    const auto oDlg = dialogs::TDialog::New(d);
    const rt::Value dlg(oDlg);

    // The error line, centred over two rows beside the logo. Its text is already in the
    // program's code page and is shown as it is.
    dialogs::TSay::NewArgs label;
    label.nRow = 0;
    label.nCol = 0;
    label.bText = textBlock(data.errorLine);
    label.oWnd = dlg;
    label.lCentered = true;
    label.lPixels = false;
    label.nWidth = 149;
    label.nHeight = 20;
    const auto oSay = dialogs::TSay::New(label);
    oSay->nStyle = oSay->nStyle.asInteger() | kNoPrefix;
    oSay->nTop = 3;
    oSay->nLeft = 22;
    oSay->nBottom = 25;
    oSay->nRight = 148;

    dialogs::TSay::NewArgs title;
    title.nRow = 24;
    title.nCol = 6;
    title.bText = textBlock("&Stack List");
    title.oWnd = dlg;
    title.lPixels = true;
    dialogs::TSay::New(title);

    // The stack lines; the list's bound value starts as the first one, so it is selected.
    std::vector<rt::Value> items(data.stackLines.begin(), data.stackLines.end());
    auto bound = std::make_shared<rt::Value>(items.empty() ? rt::Value() : items.front());
    dialogs::TListBox::NewArgs list;
    list.nRow = 33;
    list.nCol = 3;
    list.bSetGet = rt::makeBlock("ERRORDIALOG", [bound](rt::Args a) {
        if (!a.empty()) *bound = a[0];
        return *bound;
    });
    list.aItems = rt::makeArray(std::move(items));
    list.nWidth = 145;
    list.nHeight = kListHeight + (nt ? kNtListExtra : 0);
    list.oWnd = dlg;
    list.lPixel = true;
    dialogs::TListBox::New(list);

    const int top = kButtonTop + (nt ? kNtButtonShift : 0);
    button(oDlg, top, count == 2 ? 37 : 60, "&Quit", endBlock(oDlg, result, {}), count != 2);
    if (data.canRetry) button(oDlg, top, count == 2 ? 82 : 13, "&Retry", endBlock(oDlg, result, true), false);
    if (data.canDefault) button(oDlg, top, 108, "&Default", endBlock(oDlg, result, false), false);

    dialogs::TButton::NewArgs report;
    report.nRow = 21;
    report.nCol = 100;
    report.cCaption = "See Error.log file";
    report.oWnd = dlg;
    report.bAction = rt::makeBlock("ERRORDIALOG", [](rt::Args) {
        dialogs::WINEXEC(kShowReportCommand); // a missing editor is not reported
        return rt::Value();
    });
    report.nWidth = 47;
    report.nHeight = 10;
    report.lPixel = true;
    dialogs::TButton::New(report);
    return oDlg;
}

rt::Value runErrorDialog(const ErrorDialogData& data, HBITMAP logo) {
    auto result = std::make_shared<rt::Value>();
    const auto oDlg = buildErrorDialog(data, result);
    dialogs::TDialog::ActivateArgs a;
    a.bPainted = rt::makeBlock("ERRORDIALOG", [logo](rt::Args args) {
        if (!args.empty()) dialogs::DRAWBITMAP(dialogs::asHandle<HDC>(args[0]), logo, 6, 6);
        return rt::Value();
    });
    a.lCentered = true;
    oDlg->Activate(a);
    return *result;
}

// ---- the port: the handler's way to this dialog ------------------------------------------

namespace {

class DialogErrorPort : public ErrorPort {
  public:
    void prepareDialog() override {
        releaseDialog();
        logo_ = makeLogoBitmap();
    }
    rt::Value showDialog(const ErrorDialogData& data) override { return runErrorDialog(data, logo_); }
    void releaseDialog() override {
        if (logo_) DeleteObject(logo_);
        logo_ = nullptr;
    }
    void freeResources() override { dialogs::FREERESOURCES(); }

  private:
    HBITMAP logo_ = nullptr;
};

} // namespace

ErrorPort& platformErrorPort() {
    static DialogErrorPort port;
    return port;
}

} // namespace errors
