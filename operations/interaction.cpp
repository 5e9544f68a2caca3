#include "operations/interaction.h"

namespace qm {

namespace {

// Until a real implementation is installed, a box is answered as if closed
// and a file dialog as if cancelled: headless use never blocks.
class NullMessageBoxes final : public IMessageBoxes {
public:
    MsgButton Show(const MessageRequest& r) override {
        return (r.buttons & mbCancel) ? mbCancel : (r.buttons & mbNo) ? mbNo : mbOK;
    }
};

class NullFileDialogs final : public IFileDialogs {
public:
    std::optional<std::string> Run(const FileDialogRequest&) override { return std::nullopt; }
};

class NullEventPump final : public IEventPump {
public:
    void ProcessEvents() override {}
};

NullMessageBoxes gNullBoxes;
NullFileDialogs gNullDialogs;
NullEventPump gNullPump;
IMessageBoxes* gBoxes = &gNullBoxes;
IFileDialogs* gDialogs = &gNullDialogs;
IEventPump* gPump = &gNullPump;

}  // namespace

IMessageBoxes& MessageBoxes() { return *gBoxes; }
void InstallMessageBoxes(IMessageBoxes* boxes) { gBoxes = boxes ? boxes : &gNullBoxes; }

IFileDialogs& FileDialogs() { return *gDialogs; }
void InstallFileDialogs(IFileDialogs* dialogs) { gDialogs = dialogs ? dialogs : &gNullDialogs; }

IEventPump& EventPump() { return *gPump; }
void InstallEventPump(IEventPump* pump) { gPump = pump ? pump : &gNullPump; }

void ShowError(const std::string& title, const std::string& text) {
    MessageBoxes().Show({title, text, MsgIcon::Error, mbOK, mbOK});
}

void ShowWarning(const std::string& title, const std::string& text) {
    MessageBoxes().Show({title, text, MsgIcon::Warning, mbOK, mbOK});
}

void ShowInformation(const std::string& title, const std::string& text) {
    MessageBoxes().Show({title, text, MsgIcon::Information, mbOK, mbOK});
}

bool AskQuestion(const std::string& title, const std::string& text, MsgIcon icon,
                 MsgButton defaultButton) {
    return MessageBoxes().Show({title, text, icon, mbYes | mbNo, defaultButton}) == mbYes;
}

std::string TopLevelErrorText(const std::string& message) {
    std::string text = message;
    // Compared as bytes: every byte of a multi-byte UTF-8 character is above
    // the full stop, exactly as the character itself is.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

void ShowTopLevelError(const std::string& message) { ShowError(kAppTitle, TopLevelErrorText(message)); }

}  // namespace qm
