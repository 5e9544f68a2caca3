#pragma once

#include <QLineEdit>
#include <functional>

class QAction;

namespace qm {

// A one-line edit for a file or folder name with a browse button inside it.
// Typed characters, pastes and cuts are refused: the name changes only through
// the browse action or SetName, and the clipboard offers copy only.
class TFileNameEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TFileNameEdit(const QString& objectName, QWidget* parent = nullptr);

    // The action of the browse button (object name "browse").
    QAction* BrowseAction() const { return browse_; }
    // Called when the browse button is pressed.
    std::function<void()> OnBrowse;

    std::string Name() const;
    void SetName(const std::string& name);

private:
    QAction* browse_;
};

}  // namespace qm
