#pragma once

#include <exception>
#include <optional>
#include <string>

// The few ways in which the program's logic talks to a person: message boxes,
// file dialogs, a log view and the pumping of pending events. The program
// installs Qt implementations at start-up; tests install scripted ones.
namespace qm {

enum class MsgIcon { None, Information, Warning, Error, Question };

enum MsgButton : unsigned { mbNone = 0, mbOK = 1, mbYes = 2, mbNo = 4, mbCancel = 8 };

struct MessageRequest {
    std::string title;
    std::string text;
    MsgIcon icon = MsgIcon::None;
    unsigned buttons = mbOK;          // a set of MsgButton
    MsgButton defaultButton = mbNone; // mbNone: the toolkit's choice
};

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // Shows a modal box and returns the button pressed (mbCancel or mbNo when
    // the box was closed without one).
    virtual MsgButton Show(const MessageRequest& request) = 0;
};

// The process-wide message boxes. Never null once the program or a test has
// installed an implementation; Install(nullptr) restores the previous default.
IMessageBoxes& MessageBoxes();
void InstallMessageBoxes(IMessageBoxes* boxes);

// Shorthands for the box kinds the program uses.
void ShowError(const std::string& title, const std::string& text);
void ShowWarning(const std::string& title, const std::string& text);
void ShowInformation(const std::string& title, const std::string& text);
// Yes/No with No as the default; true only for Yes.
bool AskQuestion(const std::string& title, const std::string& text, MsgIcon icon = MsgIcon::Question,
                 MsgButton defaultButton = mbNo);

// The application's top-level error handling: the message of an error that
// escaped an event handler, shown in a box titled "Архиватор Firebird" with an
// error icon, a full stop appended when the code of its last character is
// above that of the full stop.
inline constexpr const char* kAppTitle = "Архиватор Firebird";
std::string TopLevelErrorText(const std::string& message);
void ShowTopLevelError(const std::string& message);

// Runs an event handler; an error it lets escape goes to the top-level
// handler and the program goes on.
template <typename F>
void Guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowTopLevelError(e.what());
    }
}

enum class FileDialogKind { Open, Save, Folder };

struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    std::string title;
    // Filter in the "Описание|*.ext|Описание 2|*.a;*.b" form of the program's texts.
    std::string filter;
    std::string defaultExt;  // without the dot; appended to a chosen name without extension
    std::string initialDir;
    std::string fileName;
};

class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;
    // The chosen path, or nothing when the dialog was cancelled.
    virtual std::optional<std::string> Run(const FileDialogRequest& request) = 0;
};

IFileDialogs& FileDialogs();
void InstallFileDialogs(IFileDialogs* dialogs);

// A read-only multi-line view to which an operation writes its log.
class ILogView {
public:
    virtual ~ILogView() = default;
    virtual void Clear() = 0;
    virtual void AddLine(const std::string& line) = 0;
};

// Lets the user interface paint and react while a long call runs on its thread.
class IEventPump {
public:
    virtual ~IEventPump() = default;
    virtual void ProcessEvents() = 0;
};

IEventPump& EventPump();
void InstallEventPump(IEventPump* pump);

}  // namespace qm
