#include "archiver/auto_archiver.h"

#include <chrono>
#include <cstdio>
#include <map>

#include "archiver/retention.h"
#include "archiver/run_state.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qm::archiver {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string Subject(const TFirebirdBase& b) {
    return "База " + Quoted(b.Description) + " (№ " + std::to_string(b.Number) + ")";
}

std::size_t ActiveCount(const std::vector<TPlan>& plans) {
    std::size_t n = 0;
    for (const TPlan& p : plans) n += p.Active ? 1 : 0;
    return n;
}

std::string FileText(const std::string& path) {
    // A missing file and an empty one read alike, as the register reads them.
    return platform::ReadWholeFile(path).value_or(std::string());
}

}  // namespace

std::string InstanceLockPath() { return platform::DataDir() + "QuillmoorService.lock"; }
std::string RunLockPath() { return platform::DataDir() + "QuillmoorService.run.lock"; }

TAutoArchiver::TAutoArchiver(TEventLog& log) : log_(log) {}

std::vector<std::string> TAutoArchiver::ConfigurationProblems(const TFirebirdBaseList& list,
                                                              const std::vector<TPlan>& plans) {
    std::vector<std::string> out;
    std::map<std::string, std::int32_t> bases;
    for (std::size_t i = 0; i < list.Count() && i < plans.size(); ++i) {
        const TFirebirdBase& b = *list[i];
        const TPlan& p = plans[i];
        if (!b.Active) continue;
        for (const std::string& t : p.BadTimes)
            out.push_back(Subject(b) + ": время " + Quoted(t) +
                          " не в форме ЧЧ:ММ и пропускается.");
        if (p.Times.empty())
            out.push_back(Subject(b) + ": не задано ни одного времени архивации.");
        else if (!p.Runs())
            out.push_back(Subject(b) + ": не выбран ни один день недели.");
        if (b.DBFile.empty()) out.push_back(Subject(b) + ": не указан файл базы данных.");
        if (b.ArcDir.empty())
            out.push_back(Subject(b) + ": не указан каталог архивов.");
        else if (!platform::DirectoryExists(b.ArcDir))
            out.push_back(Subject(b) + ": каталог архивов не найден: " + b.ArcDir);
        const std::string base = TFirebirdBaseList::GetArchiveBaseName(b);
        if (auto [it, fresh] = bases.emplace(base, b.Number); !fresh)
            out.push_back(Subject(b) + ": архивы этой базы называются так же, как архивы базы № " +
                          std::to_string(it->second) +
                          "; хранение по количеству считает их вместе.");
    }
    return out;
}

bool TAutoArchiver::ReadConfiguration(bool first) {
    const std::string listText = FileText(ListFilePath());
    const std::string settingText = FileText(SettingsFilePath());
    const bool listChanged = first || listText != listText_;
    const bool settingChanged = first || settingText != settingText_;
    listText_ = listText;
    settingText_ = settingText;
    if (settingChanged) {
        setting_ = std::make_unique<TSetting>(true);
        log_.SetSecret(setting_->SYSDBAPassword);
        if (!first) log_.Write("Файл настроек сервера изменён и перечитан.");
    }
    if (!listChanged) return false;
    list_ = std::make_unique<TFirebirdBaseList>(true);
    std::vector<TPlan> plans = PlansOf(*list_);
    if (!first) {
        last_ = CarryOver(plans_, plans, last_, std::time(nullptr));
        log_.Write("Список баз изменён и перечитан: баз " + std::to_string(plans.size()) +
                   ", активных " + std::to_string(ActiveCount(plans)) + ".");
    }
    plans_ = std::move(plans);
    LogProblems();
    return true;
}

void TAutoArchiver::LogProblems() {
    // Each problem once, for as long as it lasts.
    std::set<std::string> now;
    for (const std::string& p : ConfigurationProblems(*list_, plans_)) {
        now.insert(p);
        if (logged_.count(p) == 0) log_.Write(p);
    }
    logged_ = std::move(now);
}

void TAutoArchiver::CleanParts() {
    std::set<std::string> dirs;
    for (std::size_t i = 0; i < list_->Count(); ++i)
        if (!(*list_)[i]->ArcDir.empty()) dirs.insert((*list_)[i]->ArcDir);
    for (const std::string& dir : dirs) {
        for (const std::string& f : RemovePartFiles(dir))
            log_.Write("Удалён неполный архив, оставшийся от прерванной работы: " + f);
    }
}

void TAutoArchiver::SaveState(std::time_t now) {
    TRunState state;
    state.Seen = now;
    state.Last = last_;
    if (!SaveRunState(RunStatePath(), state))
        log_.Write("Не удалось записать файл состояния службы: " + RunStatePath());
}

void TAutoArchiver::Stop() {
    {
        std::lock_guard<std::mutex> g(m_);
        stop_ = true;
    }
    wake_.notify_all();
    cancel_.Request();
}

void TAutoArchiver::Reload() {
    {
        std::lock_guard<std::mutex> g(m_);
        reload_ = true;
    }
    wake_.notify_all();
}

void TAutoArchiver::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> g(m_);
        if (paused_ == paused) return;
        paused_ = paused;
    }
    log_.Write(paused ? "Служба автоархивации приостановлена." : "Служба автоархивации возобновлена.");
    wake_.notify_all();
}

void TAutoArchiver::GiveUp(double waitedSeconds) {
    for (const std::string& f : cancel_.PartFiles()) {
        if (platform::PathExists(f) && platform::DeleteFile(f))
            log_.Write("Неполный архив удалён: " + f);
    }
    log_.Write("Архивация не остановилась за " + FormatDuration(waitedSeconds) +
               "; служба автоархивации завершается без неё.");
}

bool TAutoArchiver::WaitForNextMinute() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto next = floor<minutes>(now) + minutes(1) + milliseconds(100);
    std::unique_lock<std::mutex> g(m_);
    // The wait is measured on the steady clock; a change of the wall clock
    // is met at the latest a minute later.
    const bool paused = paused_;
    wake_.wait_for(g, next - now, [&] { return stop_ || reload_ || paused_ != paused; });
    reload_ = false;
    return !stop_;
}

void TAutoArchiver::RunDue(const TDueRun& due, std::time_t started) {
    const TFirebirdBase& base = *(*list_)[due.Plan];
    const TPlan& plan = plans_[due.Plan];
    std::string reason;
    if (due.Slot + 60 <= started) {
        reason = "пропущенный запуск " + LocalTimeText(due.Slot, "%d.%m.%Y %H:%M") +
                 " выполняется после перерыва в работе службы";
        log_.Write(Subject(base) + ": запуск " + LocalTimeText(due.Slot, "%d.%m.%Y %H:%M") +
                   " был пропущен, пока служба не работала; архивация выполняется сейчас.");
    } else {
        reason = "по расписанию " + LocalTimeText(due.Slot, "%H:%M");
    }
    if (!runLock_->Held()) {
        bool waited = false;
        const bool got = runLock_->Lock([&] {
            if (!waited) log_.Write("Ждём окончания архивации, начатой командой --now...");
            waited = true;
            std::lock_guard<std::mutex> g(m_);
            return !stop_;
        });
        if (!got) return;
    }
    TArchiveJob job(base, *setting_, log_, &cancel_);
    job.Run(reason);
    runLock_->Unlock();
    // A failed or cancelled run counts as done: the database is tried again
    // at its next slot, not over and over.
    last_[plan.Key] = std::max(last_[plan.Key], due.Slot);
    SaveState(std::time(nullptr));
}

int TAutoArchiver::Run() {
    TLockFile instance(InstanceLockPath());
    if (!instance.TryLock() && !instance.Opened()) {
        log_.Write("Служба автоархивации не может создать файл блокировки " + InstanceLockPath() +
                   "; каталог должен быть доступен службе для записи.");
        return kExitFailed;
    }
    if (!instance.Held()) {
        log_.Write("Служба автоархивации уже запущена (" + InstanceLockPath() +
                   "); второй экземпляр не запускается.");
        return kExitAlreadyRunning;
    }
    runLock_ = std::make_unique<TLockFile>(RunLockPath());
    const std::time_t started = std::time(nullptr);
    ReadConfiguration(true);
    const TRunState kept = LoadRunState(RunStatePath());
    last_ = StartingPoints(plans_, kept.Last, kept.Seen, started);
    // Left by a run that was killed: with the run lock no archive is being
    // written, so every temporary file of the service is a stale one.
    if (runLock_->TryLock()) {
        CleanParts();
        runLock_->Unlock();
    }
    log_.Write("Служба автоархивации запущена. Баз в списке: " + std::to_string(plans_.size()) +
               ", активных: " + std::to_string(ActiveCount(plans_)) + ".");
    SaveState(started);
    if (OnReady) OnReady();

    for (;;) {
        {
            std::lock_guard<std::mutex> g(m_);
            if (stop_) break;
        }
        ReadConfiguration(false);
        bool paused;
        {
            std::lock_guard<std::mutex> g(m_);
            paused = paused_;
        }
        if (paused) {
            for (auto& [key, at] : last_) at = std::max(at, std::time(nullptr));
            if (!WaitForNextMinute()) break;
            continue;
        }
        const std::vector<TDueRun> due = DueRuns(plans_, last_, std::time(nullptr));
        if (!due.empty()) {
            RunDue(due.front(), started);
            continue;
        }
        if (!WaitForNextMinute()) break;
    }
    SaveState(std::time(nullptr));
    log_.Write("Служба автоархивации остановлена.");
    return kExitOk;
}

}  // namespace qm::archiver
