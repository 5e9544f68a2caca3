// The bytes of the attach and start requests, and the refusals a service
// component makes before it ever loads a client library.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "firebird/errors.h"
#include "firebird/services.h"

namespace qm {
namespace {

// Request bytes written the way the wire format reads: a tag, then a 2-byte
// length and text (S) or a 4-byte value (I), least significant byte first.
struct Req {
    Bytes b;
    explicit Req(std::initializer_list<std::uint8_t> head) : b(head) {}
    Req& S(std::uint8_t tag, const std::string& text) {
        b.push_back(tag);
        b.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
        b.push_back(static_cast<std::uint8_t>(text.size() >> 8));
        b.insert(b.end(), text.begin(), text.end());
        return *this;
    }
    Req& I(std::uint8_t tag, std::uint32_t v) {
        b.push_back(tag);
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Req& Raw(std::initializer_list<std::uint8_t> bytes) {
        b.insert(b.end(), bytes);
        return *this;
    }
};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <class F>
void ExpectClientError(F&& f, int number, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no error; expected " << message;
    } catch (const EFbClientError& e) {
        EXPECT_EQ(e.SQLCode(), number);
        EXPECT_EQ(e.Message(), message);
    }
}

// --- start requests ------------------------------------------------------------

TEST(StartRequest, TheThreeRequestsOfTheSystemByteForByte) {
    TFbBackupService backup;
    backup.DatabaseName = "/d/x.fdb";
    backup.BackupFile = {"/a/x.fbk"};
    backup.BuildStartRequest();
    const Bytes backupBytes = {1, 106, 8, 0, '/', 'd', '/', 'x', '.', 'f', 'd', 'b', 108, 0,
                               0, 0,   0, 5, 8,   0,   '/', 'a', '/', 'x', '.', 'f', 'b', 'k'};
    EXPECT_EQ(backup.StartRequest(), backupBytes);
    EXPECT_EQ(backup.ServiceAction(), 1);

    TFbRestoreService restore;
    restore.PageSize = 4096;
    restore.Options = {TRestoreOption::Replace};
    restore.BackupFile = {"/a.fbk"};
    restore.DatabaseName = {"/x.fdb"};
    restore.BuildStartRequest();
    const Bytes restoreBytes = {2,   108, 0x00, 0x10, 0,   0,   10,  0x00, 0x10, 0,
                                0,   5,   6,    0,    '/', 'a', '.', 'f',  'b',  'k',
                                106, 6,   0,    '/',  'x', '.', 'f', 'd',  'b'};
    EXPECT_EQ(restore.StartRequest(), restoreBytes);
    EXPECT_EQ(restore.ServiceAction(), 2);

    TFbValidationService validation;
    validation.DatabaseName = "/x.fdb";
    validation.Options = {TValidateOption::CheckDB, TValidateOption::KillShadows,
                          TValidateOption::ValidateDB, TValidateOption::ValidateFull};
    validation.BuildStartRequest();
    const Bytes validationBytes = {3,   106,  6, 0, '/', 'x', '.',  'f', 'd', 'b',
                                   108, 0x01, 0, 0, 0,   108, 0xD1, 0,   0,   0};
    EXPECT_EQ(validation.StartRequest(), validationBytes);
    EXPECT_EQ(validation.ServiceAction(), 3);
}

struct BackupCase {
    const char* name;
    std::function<void(TFbBackupService&)> setup;
    Bytes expected;
};

TEST(StartRequest, Backup) {
    const std::string db = "db";
    const std::vector<BackupCase> cases = {
        {"empty options still send the options cluster", [](TFbBackupService&) {},
         Req{1}.S(106, db).I(108, 0).b},
        {"IgnoreChecksums", [](auto& s) { s.Options = {TBackupOption::IgnoreChecksums}; },
         Req{1}.S(106, db).I(108, 0x01).b},
        {"IgnoreLimbo", [](auto& s) { s.Options = {TBackupOption::IgnoreLimbo}; },
         Req{1}.S(106, db).I(108, 0x02).b},
        {"MetadataOnly", [](auto& s) { s.Options = {TBackupOption::MetadataOnly}; },
         Req{1}.S(106, db).I(108, 0x04).b},
        {"NoGarbageCollection", [](auto& s) { s.Options = {TBackupOption::NoGarbageCollection}; },
         Req{1}.S(106, db).I(108, 0x08).b},
        {"OldMetadataDesc", [](auto& s) { s.Options = {TBackupOption::OldMetadataDesc}; },
         Req{1}.S(106, db).I(108, 0x10).b},
        {"NonTransportable", [](auto& s) { s.Options = {TBackupOption::NonTransportable}; },
         Req{1}.S(106, db).I(108, 0x20).b},
        {"ConvertExtTables", [](auto& s) { s.Options = {TBackupOption::ConvertExtTables}; },
         Req{1}.S(106, db).I(108, 0x40).b},
        {"all options",
         [](auto& s) {
             s.Options = {TBackupOption::IgnoreChecksums, TBackupOption::IgnoreLimbo,
                          TBackupOption::MetadataOnly,    TBackupOption::NoGarbageCollection,
                          TBackupOption::OldMetadataDesc, TBackupOption::NonTransportable,
                          TBackupOption::ConvertExtTables};
         },
         Req{1}.S(106, db).I(108, 0x7F).b},
        {"verbose and blocking factor",
         [](auto& s) {
             s.Verbose = true;
             s.BlockingFactor = 3;
         },
         Req{1}.S(106, db).I(108, 0).Raw({107}).I(6, 3).b},
        {"file lines: a length, blank lines skipped, the rest unchanged",
         [](auto& s) {
             s.BackupFile = {"D:\\arc\\x.fbk=2048", "   ", "\t\r", " /b.fbk "};
         },
         Req{1}.S(106, db).I(108, 0).S(5, "D:\\arc\\x.fbk").I(7, 2048).S(5, " /b.fbk ").b},
        {"a value of 65535 bytes fits its length",
         [](auto& s) { s.BackupFile = {std::string(65535, 'f')}; },
         Req{1}.S(106, db).I(108, 0).S(5, std::string(65535, 'f')).b},
    };
    for (const BackupCase& c : cases) {
        SCOPED_TRACE(c.name);
        TFbBackupService s;
        s.DatabaseName = db;
        c.setup(s);
        s.BuildStartRequest();
        EXPECT_EQ(s.StartRequest(), c.expected);
    }
}

struct RestoreCase {
    const char* name;
    std::function<void(TFbRestoreService&)> setup;
    Bytes expected;
};

TEST(StartRequest, Restore) {
    const std::vector<RestoreCase> cases = {
        {"creation defaults: CreateNewDB and a page size of 4096", [](TFbRestoreService&) {},
         Req{2}.I(108, 0x2000).I(10, 4096).b},
        {"page size 0 sends no page-size cluster", [](auto& s) { s.PageSize = 0; },
         Req{2}.I(108, 0x2000).b},
        {"no options still send the options cluster",
         [](auto& s) {
             s.PageSize = 0;
             s.Options = {};
         },
         Req{2}.I(108, 0).b},
        {"verbose and page buffers",
         [](auto& s) {
             s.Verbose = true;
             s.PageSize = 8192;
             s.PageBuffers = 75;
         },
         Req{2}.I(108, 0x2000).Raw({107}).I(10, 8192).I(9, 75).b},
        {"archive and database lists with lengths",
         [](auto& s) {
             s.PageSize = 0;
             s.BackupFile = {"a1.fbk=1000", "", "a2.fbk"};
             s.DatabaseName = {"d1.fdb=5000", " ", "d2.fdb"};
         },
         Req{2}
             .I(108, 0x2000)
             .S(5, "a1.fbk")
             .I(7, 1000)
             .S(5, "a2.fbk")
             .S(106, "d1.fdb")
             .I(11, 5000)
             .S(106, "d2.fdb")
             .b},
    };
    for (const RestoreCase& c : cases) {
        SCOPED_TRACE(c.name);
        TFbRestoreService s;
        c.setup(s);
        s.BuildStartRequest();
        EXPECT_EQ(s.StartRequest(), c.expected);
    }

    const std::pair<TRestoreOption, std::uint32_t> bits[] = {
        {TRestoreOption::DeactivateIndexes, 0x0100}, {TRestoreOption::NoShadow, 0x0200},
        {TRestoreOption::NoValidityCheck, 0x0400},   {TRestoreOption::OneRelationAtATime, 0x0800},
        {TRestoreOption::Replace, 0x1000},           {TRestoreOption::CreateNewDB, 0x2000},
        {TRestoreOption::UseAllSpace, 0x4000},       {TRestoreOption::ValidationCheck, 0x8000},
        {TRestoreOption::OnlyMetadata, 0x04},
    };
    for (const auto& [option, bit] : bits) {
        SCOPED_TRACE(bit);
        TFbRestoreService s;
        s.PageSize = 0;
        s.Options = {option};
        s.BuildStartRequest();
        EXPECT_EQ(s.StartRequest(), Req{2}.I(108, bit).b);
    }
}

struct ValidationCase {
    TValidateOptions options;
    Bytes expected;
};

TEST(StartRequest, Validation) {
    using O = TValidateOption;
    const std::string db = "/x.fdb";
    const std::vector<ValidationCase> cases = {
        {{O::CheckDB, O::KillShadows, O::ValidateDB, O::ValidateFull},
         Req{3}.S(106, db).I(108, 0x01).I(108, 0xD1).b},
        {{O::CheckDB, O::KillShadows, O::ValidateDB, O::ValidateFull, O::MendDB},
         Req{3}.S(106, db).I(108, 0x01).I(108, 0xD4).b},
        {{O::SweepDB}, Req{3}.S(106, db).I(108, 0x02).b},
        {{}, Req{3}.S(106, db).b},
        {{O::LimboTransactions}, Req{3}.S(106, db).I(108, 0x08).b},
        {{O::IgnoreChecksum}, Req{3}.S(106, db).I(108, 0x20).b},
        {{O::MendDB}, Req{3}.S(106, db).I(108, 0x04).b},
        {{O::ValidateFull}, Req{3}.S(106, db).I(108, 0x81).b},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        TFbValidationService s;
        s.DatabaseName = db;
        s.Options = cases[i].options;
        s.BuildStartRequest();
        EXPECT_EQ(s.StartRequest(), cases[i].expected);
    }
}

// The requests that take a database away from its clients and give it back,
// and the check of a database in use.
TEST(StartRequest, DatabaseStateAndOnlineCheck) {
    using A = TFbPropertiesService::TAction;
    const std::string db = "/x.fdb";
    const struct {
        A action;
        TShutdownMode mode;
        Bytes expected;
    } cases[] = {
        {A::Shutdown, TShutdownMode::Full, Req{8}.S(106, db).Raw({44, 3}).I(41, 0).b},
        {A::Shutdown, TShutdownMode::Single, Req{8}.S(106, db).Raw({44, 2}).I(41, 0).b},
        {A::Online, TShutdownMode::Normal, Req{8}.S(106, db).Raw({45, 0}).b},
        {A::NoLinger, TShutdownMode::Normal, Req{8}.S(106, db).I(108, 0x0400).b},
    };
    for (const auto& c : cases) {
        TFbPropertiesService s;
        s.DatabaseName = db;
        s.Action = c.action;
        s.Mode = c.mode;
        s.BuildStartRequest();
        EXPECT_EQ(s.StartRequest(), c.expected) << static_cast<int>(c.action);
        EXPECT_EQ(s.ServiceAction(), 8);
    }
    TFbOnlineValidationService online;
    online.DatabaseName = db;
    online.BuildStartRequest();
    EXPECT_EQ(online.StartRequest(), Req{30}.S(106, db).b);
    EXPECT_EQ(online.ServiceAction(), 30);
}

TEST(StartRequest, Refusals) {
    const std::string missing = "Start Parameters missing or incorrect";
    ExpectClientError([] { TFbBackupService().BuildStartRequest(); }, 69, missing);
    ExpectClientError([] { TFbValidationService().BuildStartRequest(); }, 69, missing);
    ExpectClientError([] { TFbPropertiesService().BuildStartRequest(); }, 69, missing);
    ExpectClientError([] { TFbOnlineValidationService().BuildStartRequest(); }, 69, missing);

    // A value too long for its two-byte length is refused, never cut.
    TFbBackupService tooLong;
    tooLong.DatabaseName = std::string(65536, 'd');
    ExpectClientError([&] { tooLong.BuildStartRequest(); }, 69,
                      "The value of isc_spb_dbname is longer than 65535 bytes (65536 bytes).");
    TFbRestoreService tooLongFile;
    tooLongFile.BackupFile = {std::string(70000, 'f')};
    ExpectClientError([&] { tooLongFile.BuildStartRequest(); }, 69,
                      "The value of isc_spb_bkp_file is longer than 65535 bytes (70000 bytes).");

    TFbBackupService badLength;
    badLength.DatabaseName = "db";
    badLength.BackupFile = {"x.fbk=big"};
    try {
        badLength.BuildStartRequest();
        ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'big' is not a valid integer value");
    }
}

// --- attach request ------------------------------------------------------------

struct AttachCase {
    std::vector<std::string> params;
    Bytes expected;
};

TEST(AttachRequest, FromParams) {
    const std::vector<AttachCase> cases = {
        {{"user_name=sysdba", "password=masterkey"},
         Req{2, 2, 28, 6}.b + Text("sysdba") + Bytes{29, 9} + Text("masterkey")},
        {{"user_name=sysdba", "password="}, Req{2, 2, 28, 6}.b + Text("sysdba") + Bytes{29, 0}},
        {{"ISC_SPB_User_Name=SYSDBA", "sql_role_name=R", "isc_spb_command_line=a=b"},
         Req{2, 2, 28, 6}.b + Text("SYSDBA") + Bytes{60, 1, 'R', 105, 3} + Text("a=b")},
        {{"no equals sign", "", " =x", "password=p"}, Bytes{2, 2, 29, 1, 'p'}},
        {{"password=" + std::string(255, 'p')}, Bytes{2, 2, 29, 255} + Text(std::string(255, 'p'))},
        {{}, Bytes{2, 2}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(TFbCustomService::BuildAttachRequest(cases[i].params), cases[i].expected);
    }
}

TEST(AttachRequest, RefusedNames) {
    for (const char* name :
         {"sys_user_name", "sys_user_name_enc", "password_enc", "db_name", "verbose", "options",
          "connect_timeout", "dummy_packet_interval", "isc_spb_instance_name"}) {
        SCOPED_TRACE(name);
        ExpectClientError(
            [&] {
                TFbCustomService::BuildAttachRequest(
                    {"user_name=sysdba", name + std::string("=1")});
            },
            72, "SPB Constant Not supported");
    }
    ExpectClientError([] { TFbCustomService::BuildAttachRequest({"user=sysdba"}); }, 73,
                      "SPB Constant Unknown");
    // Names are not trimmed: a blank before a known name makes it unknown.
    ExpectClientError([] { TFbCustomService::BuildAttachRequest({" user_name=sysdba"}); }, 73,
                      "SPB Constant Unknown");
    ExpectClientError(
        [] { TFbCustomService::BuildAttachRequest({"password=" + std::string(256, 'p')}); }, 72,
        "The value of isc_spb_password is longer than 255 bytes (256 bytes).");
    const std::vector<std::string> many(300, "password=" + std::string(255, 'p'));
    ExpectClientError([&] { TFbCustomService::BuildAttachRequest(many); }, 72,
                      "The service attach request is longer than 65535 bytes (77102 bytes).");
}

// --- properties and refusals before any client call ------------------------------

TEST(ServiceComponent, CreationValues) {
    TFbBackupService backup;
    EXPECT_FALSE(backup.Active());
    EXPECT_EQ(backup.LibraryName(), "libfbclient.so.2");
    EXPECT_EQ(backup.Protocol(), TProtocol::Local);
    EXPECT_EQ(backup.ServerName(), "");
    EXPECT_TRUE(backup.LoginPrompt);
    EXPECT_EQ(backup.BufferSize(), 32000);
    EXPECT_EQ(backup.ServiceAction(), 0);
    EXPECT_FALSE(backup.Verbose);
    EXPECT_EQ(backup.BlockingFactor, 0);
    EXPECT_TRUE(backup.Options.Empty());

    TFbRestoreService restore;
    EXPECT_EQ(restore.PageSize, 4096);
    EXPECT_EQ(restore.PageBuffers, 0);
    EXPECT_EQ(restore.Options, TRestoreOptions{TRestoreOption::CreateNewDB});

    TFbValidationService validation;
    EXPECT_EQ(validation.GlobalAction, TTransactionGlobalAction::CommitGlobal);
    EXPECT_TRUE(validation.Options.Empty());
}

TEST(ServiceComponent, ServerNameAndProtocolFollowEachOther) {
    TFbValidationService s;
    EXPECT_EQ(s.ServiceManagerName(), "service_mgr");
    s.SetServerName("db.example");
    EXPECT_EQ(s.Protocol(), TProtocol::TCP);
    EXPECT_EQ(s.ServiceManagerName(), "db.example:service_mgr");
    s.SetProtocol(TProtocol::SPX);
    EXPECT_EQ(s.ServiceManagerName(), "db.example@service_mgr");
    s.SetProtocol(TProtocol::NamedPipe);
    EXPECT_EQ(s.ServiceManagerName(), "\\\\db.example\\service_mgr");
    s.SetServerName("");
    EXPECT_EQ(s.Protocol(), TProtocol::Local);
    s.SetServerName("host");
    s.SetProtocol(TProtocol::Local);
    EXPECT_EQ(s.ServerName(), "");
    EXPECT_EQ(s.ServiceManagerName(), "service_mgr");
}

TEST(ServiceComponent, RefusalsBeforeTheLibraryIsLoaded) {
    // A library name that cannot load proves that none of these reach it.
    TFbBackupService s;
    s.SetLibraryName("/nonexistent/libfbclient.so");
    ExpectClientError([&] { s.Detach(); }, 65,
                      "Cannot perform operation -- service is not attached");
    ExpectClientError([&] { s.StartServiceAction(); }, 65,
                      "Cannot perform operation -- service is not attached");
    ExpectClientError([&] { s.ReadOutputLine(); }, 68, "Query Parameters missing or incorrect");
    s.SetProtocol(TProtocol::TCP);
    ExpectClientError([&] { s.Attach(); }, 67, "Server Name Missing");
    s.SetProtocol(TProtocol::Local);
    s.SetParams({"user_name=sysdba", "verbose=1"});
    ExpectClientError([&] { s.Attach(); }, 72, "SPB Constant Not supported");
    s.SetActive(false);  // already inactive: nothing happens
    EXPECT_FALSE(s.Active());
}

}  // namespace
}  // namespace qm
