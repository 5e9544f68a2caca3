#pragma once

#include <QDialog>

#include "config/setting.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace qm {

class TFileNameEdit;

// The server settings dialog: the client library, the SYSDBA password and
// the server.
// Ends with Accepted only through a successful save.
class TfrmSetting : public QDialog {
    Q_OBJECT
public:
    TfrmSetting(TSetting& setting, QWidget* owner);

    static constexpr const char* kCaption = "Настройки сервера Firebird";

    void btnOkClick();
    void cbShowPasswordClick();

private:
    void BrowseLibrary();

    TSetting& setting_;
    TFileNameEdit* edLibraryName;
    QLineEdit* edPassword;
    QCheckBox* cbShowPassword;
    QLineEdit* edServer;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};

}  // namespace qm
