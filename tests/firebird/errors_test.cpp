#include "firebird/errors.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "firebird/database.h"
#include "tests/firebird/fb_test_support.h"

namespace qm {
namespace {

using ScriptFn = void (*)(long, const char*, const char* const*, int, int);
using ClearFn = void (*)();

// Drives the scripted-error fake: the next attach through it fails with the
// scripted SQL code, SQL text and engine messages.
class ScriptedClient {
public:
    ScriptedClient() : path_(test::FakeClient("version")) {
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        script_ = reinterpret_cast<ScriptFn>(dlsym(handle_, "fake_script_error"));
        clear_ = reinterpret_cast<ClearFn>(dlsym(handle_, "fake_clear_script"));
    }
    ~ScriptedClient() {
        clear_();
        dlclose(handle_);
    }
    const std::string& Path() const { return path_; }

    // The error that a connect through the fake raises under the script.
    EFbEngineError Attach(long sqlCode, const char* sqlText,
                          const std::vector<const char*>& messages, int mode = 0) {
        script_(sqlCode, sqlText, messages.data(), static_cast<int>(messages.size()), mode);
        TComponent mainWindow(nullptr, "Moorquill");
        TComponent dm(&mainWindow, "dm");
        TFbDatabase db(&dm, "DataBase");
        db.SetLibraryName(path_);
        db.SetDBName("/nowhere/scripted.fdb");
        try {
            db.Connect();
        } catch (const EFbEngineError& e) {
            clear_();
            EXPECT_FALSE(db.Connected());
            return e;
        }
        clear_();
        ADD_FAILURE() << "the scripted attach succeeded";
        return EFbEngineError(FbErrorParts{});
    }

private:
    std::string path_;
    void* handle_ = nullptr;
    ScriptFn script_ = nullptr;
    ClearFn clear_ = nullptr;
};

TEST(EngineError, MessageIsComposedFromOriginSqlTextAndEngineMessages) {
    struct Case {
        const char* name;
        const char* sqlText;
        std::vector<const char*> messages;
        const char* expected;
    };
    const std::string origin = "Moorquill.dm.DataBase:\r\n";
    const std::vector<Case> cases = {
        {"lower-case first letters are raised",
         "unsuccessful metadata update",
         {"lock conflict", "object in use."},
         "Unsuccessful metadata update.\r\nLock conflict.\r\nObject in use.\r\n"},
        {"backslash-n pairs disappear",
         "Line one\\n and two\\n",
         {"x"},
         "Line one and two.\r\nX.\r\n"},
        {"a full stop ends the SQL text without a line break",
         "Ends here.",
         {"first"},
         "Ends here.First.\r\n"},
        {"empty engine messages add nothing", "Some SQL text", {"", ""}, "Some SQL text.\r\n"},
        {"no SQL text", "", {"only engine"}, "Only engine.\r\n"},
        {"digits, capitals and Cyrillic stay",
         "1st problem",
         {"Already upper", "ошибка"},
         "1st problem.\r\nAlready upper.\r\nошибка.\r\n"},
        {"a single letter", "x", {}, "X.\r\n"},
    };
    ScriptedClient client;
    for (const Case& c : cases) {
        const EFbEngineError e = client.Attach(-901, c.sqlText, c.messages);
        EXPECT_EQ(e.Message(), origin + c.expected) << c.name;
        EXPECT_EQ(e.SQLCode(), -901) << c.name;
        EXPECT_EQ(e.OriginName(), "Moorquill.dm.DataBase") << c.name;
        EXPECT_EQ(e.EngineErrorCode(), 0x7F000000) << c.name;
    }
}

TEST(EngineError, RendererThatDoesNotAdvanceOrJumpsAwayIsStopped) {
    ScriptedClient client;
    for (int mode : {1, 2}) {
        const EFbEngineError e = client.Attach(-902, "", {"stuck", "never shown"}, mode);
        EXPECT_EQ(e.EngineErrorText(), "Stuck.\r\n") << mode;
    }
}

TEST(EngineError, FlagsDecideWhichPiecesTheMessageHas) {
    ScriptedClient client;
    const ErrorTextParts saved = GetErrorTextParts();
    SetErrorTextParts(ErrorTextParts{false, true, false, false});
    const EFbEngineError e = client.Attach(-901, "sql text", {"engine text"});
    SetErrorTextParts(saved);
    EXPECT_EQ(e.Message(), "Sql text.\r\n");
    EXPECT_EQ(e.EngineErrorText(), "");
}

TEST(EngineError, RealServerRefusalCarriesTheEngineText) {
    test::TempDir dir;
    TComponent owner(nullptr, "dm");
    TFbDatabase db(&owner, "DataBase");
    db.SetLibraryName("libfbclient.so.2");
    db.SetDBName(dir.File("missing.fdb"));
    db.SetDBParams(test::SysdbaParams());
    try {
        db.Connect();
        FAIL() << "attached to a missing file";
    } catch (const EFbEngineError& e) {
        EXPECT_EQ(e.Message().rfind("dm.DataBase:\r\n", 0), 0u) << e.Message();
        EXPECT_NE(e.Message().find("I/O error"), std::string::npos) << e.Message();
        EXPECT_EQ(e.Message().substr(e.Message().size() - 2), "\r\n");
        EXPECT_EQ(e.SQLCode(), -902);
        EXPECT_NE(e.EngineErrorCode(), 0);
    }
    EXPECT_FALSE(db.Connected());
}

TEST(ClientError, TableTextsAreFormattedWithTheirArguments) {
    struct Case {
        int number;
        std::vector<ClientErrorArg> args;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {14, {}, "Database name is missing."},
        {12,
         {"Moorquill.dm.DataBase"},
         "Moorquill.dm.DataBase: Cannot perform operation -- DB is not open."},
        {15, {"Moorquill.dm.Transaction"}, "Moorquill.dm.Transaction :Transaction is not active."},
        {8, {"page_size"}, "DPB Constant (isc_dpb_page_size) is unsupported."},
        {37, {"execute"}, "Can't execute , because  query is empty"},
        {30, {7}, "Unknown SQL Data type (7)."},
        {55, {5, 255}, "Windows API error. (Windows error 5 [$000000ff])"},
        {51,
         {"q", "EOF in string detected"},
         "SQL Parse Error in :q \r\n\r\nEOF in string detected"},
        {70, {}, "Unexpected Output buffer value"},
        {99, {}, "Unknown error."},
    };
    for (const Case& c : cases) {
        std::string text;
        switch (c.args.size()) {
            case 0:
                text = FormatClientError(c.number);
                break;
            case 1:
                text = FormatClientError(c.number, {c.args[0]});
                break;
            default:
                text = FormatClientError(c.number, {c.args[0], c.args[1]});
                break;
        }
        EXPECT_EQ(text, c.expected) << c.number;
    }
}

TEST(ClientError, MessageIsThePlainTextAlone) {
    try {
        RaiseClientError(ceDatabaseNameMissing);
    } catch (const EFbClientError& e) {
        EXPECT_EQ(e.Message(), "Database name is missing.");
        EXPECT_EQ(e.SQLCode(), 14);
        EXPECT_EQ(e.OriginName(), "");
        EXPECT_EQ(e.Origin(), nullptr);
    }
}

TEST(Component, OriginNameJoinsOwnersAndSkipsEmptyNames) {
    TComponent mainWindow(nullptr, "Moorquill");
    TComponent dm(&mainWindow, "dm");
    TComponent unnamed(&dm, "");
    TComponent leaf(&unnamed, "Query");
    EXPECT_EQ(leaf.OriginName(), "Moorquill.dm.Query");
    EXPECT_EQ(unnamed.OriginName(), "Moorquill.dm");
}

TEST(Component, OwnerGoingFirstLeavesNoDanglingOwner) {
    auto owner = std::make_unique<TComponent>(nullptr, "dm");
    TComponent child(owner.get(), "DataBase");
    owner.reset();
    EXPECT_EQ(child.Owner(), nullptr);
    EXPECT_EQ(child.OriginName(), "DataBase");
}

TEST(IntegerReader, AcceptsDecimalIntegersOnly) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("+7"), 7);
    for (const char* bad : {"", "x", "1x", " 1", "99999999999", "+-1", "0x10"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

}  // namespace
}  // namespace qm
