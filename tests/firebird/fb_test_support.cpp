#include "tests/firebird/fb_test_support.h"

#include <algorithm>
#include <thread>

namespace qm::test {

std::string FakeClient(const std::string& variant) {
    return std::string(QM_FAKE_CLIENT_DIR) + "libfbfake_" + variant + ".so";
}

struct TestTimerLoop::Entry {
    std::function<void()> onTick;
    bool active = false;
    std::chrono::milliseconds interval{0};
    std::chrono::steady_clock::time_point due;
};

class TestTimer final : public ITimer {
public:
    TestTimer(TestTimerLoop& loop, std::function<void()> onTick) : loop_(loop) {
        entry_.onTick = std::move(onTick);
        loop_.timers_.push_back(&entry_);
    }
    ~TestTimer() override {
        auto& list = loop_.timers_;
        list.erase(std::remove(list.begin(), list.end(), &entry_), list.end());
    }
    void Start(std::uint32_t intervalMs) override {
        entry_.active = true;
        entry_.interval = std::chrono::milliseconds(intervalMs);
        entry_.due = std::chrono::steady_clock::now() + entry_.interval;
    }
    void Stop() override { entry_.active = false; }
    bool IsActive() const override { return entry_.active; }

private:
    TestTimerLoop& loop_;
    TestTimerLoop::Entry entry_;
};

TestTimerLoop::TestTimerLoop() { InstallTimerFactory(this); }
TestTimerLoop::~TestTimerLoop() { InstallTimerFactory(nullptr); }

std::unique_ptr<ITimer> TestTimerLoop::CreateTimer(std::function<void()> onTick) {
    return std::make_unique<TestTimer>(*this, std::move(onTick));
}

bool TestTimerLoop::RunUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // One due tick at a time: a tick may create or destroy timers.
        Entry* due = nullptr;
        for (Entry* e : timers_) {
            if (e->active && e->due <= now && (due == nullptr || e->due < due->due)) due = e;
        }
        if (due != nullptr) {
            due->due = now + due->interval;
            auto tick = due->onTick;
            tick();
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<std::string> SysdbaParams(const std::string& charSet) {
    std::vector<std::string> lines = {"user_name=SYSDBA", "password=masterkey"};
    if (!charSet.empty()) lines.push_back("lc_ctype=" + charSet);
    return lines;
}

void CreateTestDatabase(const std::string& path, int dialect, const std::string& charSet) {
    TFbDatabase db;
    db.SetDBName(path);
    db.SetLibraryName("libfbclient.so.2");
    db.SetSQLDialect(dialect);
    std::vector<std::string> clauses = {"USER 'SYSDBA' PASSWORD 'masterkey'"};
    if (!charSet.empty()) clauses.push_back("DEFAULT CHARACTER SET " + charSet);
    db.SetDBParams(clauses);
    db.CreateDatabase();
    db.Disconnect();
}

std::unique_ptr<TFbDatabase> OpenTestDatabase(const std::string& path, TComponent* owner,
                                              const std::string& name) {
    auto db = std::make_unique<TFbDatabase>(owner, name);
    db->SetDBName(path);
    db->SetLibraryName("libfbclient.so.2");
    db->SetDBParams(SysdbaParams());
    db->SetSQLDialect(3);
    db->Connect();
    return db;
}

void ExecSql(TFbDatabase& db, const std::vector<std::string>& statements) {
    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    TFbQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    tr.StartTransaction();
    for (const std::string& sql : statements) {
        q.SetSqlText({sql});
        q.ExecuteQuery();
        if (q.SqlKind() == sqkSchema) {
            tr.Commit();
            tr.StartTransaction();
        }
    }
    tr.Commit();
}

std::string QueryText(TFbDatabase& db, const std::string& sql) {
    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    TFbQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    tr.StartTransaction();
    q.SetSqlText({sql});
    q.ExecuteQuery();
    std::string out = q.Eof() ? std::string() : q.FieldAsText(0);
    tr.Commit();
    return out;
}

}  // namespace qm::test
