// A service component against scripted client libraries: what goes on the
// wire, the framing of the output answers, and the state after failed calls.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "firebird/errors.h"
#include "firebird/services.h"
#include "tests/firebird/services/fake_client.h"

namespace qm {
namespace {

using test::DataModuleOwners;
using test::FakeClient;

constexpr long kFakeCode = 335544344;  // any engine code

// One answer carrying one line.
Bytes LineAnswer(const std::string& text) {
    Bytes b = {62, static_cast<std::uint8_t>(text.size() & 0xFF),
               static_cast<std::uint8_t>(text.size() >> 8)};
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(1);
    return b;
}

const Bytes kEndAnswer = {62, 0, 0, 1};

class ScriptedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        svc.SetLibraryName(FakeClient::kPath);
        svc.SetParams({"user_name=sysdba", "password=masterkey"});
        svc.DatabaseName = "/data/base.fdb";
        svc.BackupFile = {"/arc/base.fbk"};
    }

    // Attached, with the backup started.
    void Start() {
        svc.SetActive(true);
        svc.StartServiceAction();
    }

    FakeClient fake;
    DataModuleOwners owners;
    TFbBackupService svc{&owners.dm, "BackupService"};
};

TEST_F(ScriptedLibrary, SendsTheRequestsAndReadsToTheEnd) {
    svc.SetActive(true);
    svc.SetActive(true);  // already active: no second attach
    EXPECT_EQ(fake.Calls("isc_service_attach"), 1);
    EXPECT_EQ(fake.LastServiceName(), "service_mgr");
    EXPECT_EQ(fake.LastAttachRequest(),
              TFbCustomService::BuildAttachRequest({"user_name=sysdba", "password=masterkey"}));
    EXPECT_EQ(svc.AttachRequest(), fake.LastAttachRequest());

    svc.BuildStartRequest();
    const Bytes request = svc.StartRequest();
    svc.StartServiceAction();
    EXPECT_EQ(fake.LastStartRequest(), request);
    EXPECT_TRUE(svc.StartRequest().empty());

    fake.PushAnswer(LineAnswer("gbak:readied database for backup"));
    fake.PushAnswer(LineAnswer("gbak:closing file, committing, and finishing"));
    fake.PushAnswer(kEndAnswer);
    std::vector<std::string> lines;
    while (!svc.OutputEnded()) lines.push_back(svc.ReadOutputLine());
    EXPECT_EQ(lines,
              (std::vector<std::string>{"gbak:readied database for backup",
                                        "gbak:closing file, committing, and finishing", ""}));
    EXPECT_EQ(fake.LastBufferLength(), 32000);
    EXPECT_EQ(svc.ReadOutputLine(), "");  // ended: the server is not asked again
    EXPECT_EQ(fake.Calls("isc_service_query"), 3);

    // A new start on the same attachment reads anew.
    svc.StartServiceAction();
    EXPECT_FALSE(svc.OutputEnded());
    fake.PushAnswer(LineAnswer("again"));
    EXPECT_EQ(svc.ReadOutputLine(), "again");

    svc.SetActive(false);
    EXPECT_FALSE(svc.Active());
    EXPECT_EQ(fake.Calls("isc_service_detach"), 1);
}

struct FramingCase {
    const char* name;
    std::int32_t bufferSize;
    Bytes answer;
    std::optional<std::string> line;  // nothing: refused with client error 70
};

TEST_F(ScriptedLibrary, FramingOfOneAnswer) {
    const std::string twelve = "twelve chars";
    const std::string big(40000, 'x');  // a length with the top bit of its high byte set
    const std::vector<FramingCase> cases = {
        {"a line", 32000, LineAnswer("abc"), "abc"},
        {"a line that fills the buffer exactly", 16, LineAnswer(twelve), twelve},
        {"a line longer than 32767 bytes", 65535, LineAnswer(big), big},
        {"text up to its first zero byte", 32000, Bytes{62, 3, 0, 'a', 0, 'c', 1}, "a"},
        {"the end marker would lie past the buffer", 16, LineAnswer(twelve + "!"), std::nullopt},
        {"a length far past the buffer", 16, Bytes{62, 0xFF, 0xFF, 'a', 1}, std::nullopt},
        {"a line longer than 32767 bytes in a smaller buffer", 32000, LineAnswer(big),
         std::nullopt},
        {"the item alone", 32000, Bytes{62}, std::nullopt},
        {"the item and half a length", 32000, Bytes{62, 3}, std::nullopt},
        {"the line cut short: truncated marker", 32000, Bytes{62, 3, 0, 'a', 'b', 'c', 2},
         std::nullopt},
        {"another item first", 32000, Bytes{2, 3, 0, 'a', 'b', 'c', 1}, std::nullopt},
        {"a buffer too small for any answer", 2, kEndAnswer, std::nullopt},
        {"a negative buffer size", -5, kEndAnswer, std::nullopt},
    };
    Start();
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        svc.SetBufferSize(c.bufferSize);
        svc.StartServiceAction();
        fake.PushAnswer(c.answer);
        if (c.line) {
            EXPECT_EQ(svc.ReadOutputLine(), *c.line);
            EXPECT_FALSE(svc.OutputEnded());
        } else {
            try {
                svc.ReadOutputLine();
                ADD_FAILURE() << "no error";
            } catch (const EFbClientError& e) {
                EXPECT_EQ(e.SQLCode(), 70);
                EXPECT_EQ(e.Message(), "Unexpected Output buffer value");
            }
            EXPECT_TRUE(svc.Active());
        }
        EXPECT_EQ(fake.LastBufferLength(), std::clamp(c.bufferSize, 0, 65535));
    }
}

TEST_F(ScriptedLibrary, BufferSizeAbove16BitsIsCapped) {
    Start();
    svc.SetBufferSize(100000);
    EXPECT_EQ(svc.ReadOutputLine(), "");
    EXPECT_EQ(fake.LastBufferLength(), 65535);
}

TEST_F(ScriptedLibrary, FailedCallsDropTheHandle) {
    for (const char* call : {"isc_service_start", "isc_service_query", "isc_service_detach"}) {
        SCOPED_TRACE(call);
        svc.SetActive(true);
        if (std::string(call) == "isc_service_query") svc.StartServiceAction();
        const int detaches = fake.Calls("isc_service_detach");
        fake.FailNext(call, kFakeCode);
        try {
            if (std::string(call) == "isc_service_start") svc.StartServiceAction();
            if (std::string(call) == "isc_service_query") svc.ReadOutputLine();
            if (std::string(call) == "isc_service_detach") svc.Detach();
            ADD_FAILURE() << "no error";
        } catch (const EFbEngineError& e) {
            EXPECT_EQ(e.Message(),
                      "Moorquill.dm.BackupService:\r\nFake sql error -902.\r\n"
                      "Fake engine error 335544344.\r\n");
            EXPECT_EQ(e.EngineErrorCode(), kFakeCode);
            EXPECT_EQ(e.Origin(), &svc);
        }
        EXPECT_FALSE(svc.Active());
        EXPECT_EQ(svc.Handle(), 0u);
        EXPECT_TRUE(svc.StartRequest().empty());
        svc.SetActive(false);  // the handle is gone: nothing to detach
        EXPECT_EQ(fake.Calls("isc_service_detach"),
                  detaches + (std::string(call) == "isc_service_detach"));
    }
}

TEST_F(ScriptedLibrary, FailedAttachLeavesNoHandle) {
    fake.FailNext("isc_service_attach", kFakeCode);
    EXPECT_THROW(svc.SetActive(true), EFbEngineError);
    EXPECT_FALSE(svc.Active());
    EXPECT_EQ(svc.Handle(), 0u);
    svc.SetActive(true);  // the next attach goes through
    EXPECT_TRUE(svc.Active());
    EXPECT_EQ(fake.Calls("isc_service_attach"), 2);
}

TEST_F(ScriptedLibrary, LibraryWithoutServiceFunctions) {
    svc.SetLibraryName(QM_FAKE_NOSERVICES_LIB);
    try {
        svc.Attach();
        ADD_FAILURE() << "no error";
    } catch (const EFbLibraryError& e) {
        EXPECT_EQ(
            std::string(e.what()),
            std::string("Can't find procedure isc_service_attach in ") + QM_FAKE_NOSERVICES_LIB);
    }
    EXPECT_FALSE(svc.Active());
    EXPECT_EQ(svc.Handle(), 0u);
}

TEST_F(ScriptedLibrary, RefusedParamsStayRefusedAndSendNothing) {
    svc.SetActive(true);
    svc.SetActive(false);
    svc.SetParams({"user_name=sysdba", "user=sysdba"});
    // Refused again at the second try: the request of the last attach must
    // not go out in its place.
    for (int i = 0; i < 2; ++i) {
        try {
            svc.Attach();
            ADD_FAILURE() << "no error";
        } catch (const EFbClientError& e) {
            EXPECT_EQ(e.SQLCode(), 73);
        }
    }
    EXPECT_EQ(fake.Calls("isc_service_attach"), 1);
    svc.SetParams({"user_name=other"});
    svc.Attach();
    EXPECT_EQ(fake.LastAttachRequest(), (Bytes{2, 2, 28, 5, 'o', 't', 'h', 'e', 'r'}));
}

TEST_F(ScriptedLibrary, SettingsAreRefusedWhileAttached) {
    svc.SetActive(true);
    const auto expect66 = [](auto&& f) {
        try {
            f();
            ADD_FAILURE() << "no error";
        } catch (const EFbClientError& e) {
            EXPECT_EQ(e.Message(), "Cannot perform operation -- service is attached");
        }
    };
    expect66([&] { svc.Attach(); });
    expect66([&] { svc.SetParams({}); });
    expect66([&] { svc.SetLibraryName(svc.LibraryName()); });
    expect66([&] { svc.SetServerName("host"); });
    expect66([&] { svc.SetProtocol(TProtocol::TCP); });
    svc.SetProtocol(TProtocol::Local);  // unchanged values pass
    svc.SetServerName("");
    EXPECT_TRUE(svc.Active());
}

TEST_F(ScriptedLibrary, OversizedStartRequestIsRefusedUnsent) {
    svc.SetActive(true);
    svc.DatabaseName = std::string(40000, 'd');
    svc.BackupFile = {std::string(40000, 'f')};
    try {
        svc.StartServiceAction();
        ADD_FAILURE() << "no error";
    } catch (const EFbClientError& e) {
        EXPECT_EQ(e.SQLCode(), 69);
        EXPECT_EQ(e.Message(),
                  "The service start request is longer than 65535 bytes (80012 bytes).");
    }
    EXPECT_EQ(fake.Calls("isc_service_start"), 0);
    EXPECT_TRUE(svc.StartRequest().empty());
    EXPECT_TRUE(svc.Active());
}

TEST_F(ScriptedLibrary, DestroyingAnAttachedComponentDetaches) {
    {
        TFbValidationService other(&owners.dm, "ValidationService");
        other.SetLibraryName(FakeClient::kPath);
        other.SetActive(true);
    }
    EXPECT_EQ(fake.Calls("isc_service_detach"), 1);
}

}  // namespace
}  // namespace qm
