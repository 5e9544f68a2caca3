#include "archiver/commands.h"

#include <exception>

#include "archiver/archive_job.h"
#include "archiver/auto_archiver.h"
#include "archiver/schedule.h"
#include "archiver/service_main.h"
#include "archiver/system.h"
#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/binding.h"
#include "firebird/server_route.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "service/archiver_service.h"

namespace qm::archiver {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string DaysText(const TFirebirdBase& b) {
    static const char* const kNames[] = {"пн", "вт", "ср", "чт", "пт", "сб", "вс"};
    const bool flags[] = {b.Mon, b.Tue, b.Wed, b.Thu, b.Fri, b.Sat, b.Sun};
    std::string s;
    for (int i = 0; i < 7; ++i)
        if (flags[i]) {
            if (!s.empty()) s += ' ';
            s += kNames[i];
        }
    return s.empty() ? "не выбраны" : s;
}

// Prints lines with the password hidden, counting the problems.
class TReport {
public:
    TReport(std::FILE* out, std::string secret) : out_(out), secret_(std::move(secret)) {}
    void Line(const std::string& text) {
        std::fputs((HideSecret(text, secret_) + "\n").c_str(), out_);
    }
    void Problem(const std::string& text) {
        ++problems_;
        Line("  ОШИБКА: " + text);
    }
    void Fine(const std::string& text) { Line("  в порядке: " + text); }
    int Problems() const { return problems_; }

private:
    std::FILE* out_;
    std::string secret_;
    int problems_ = 0;
};

bool ReadableFile(const std::string& path) { return platform::ReadWholeFile(path).has_value(); }

}  // namespace

int ListCommand(std::FILE* out) {
    const TFirebirdBaseList list(true);
    const std::vector<TPlan> plans = PlansOf(list);
    const std::time_t now = std::time(nullptr);
    std::fprintf(out, "Список баз %s: баз %zu\n", ListFilePath().c_str(), list.Count());
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TFirebirdBase& b = *list[i];
        const TPlan& p = plans[i];
        std::string times;
        for (const TTimeOfDay& t : p.Times) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%02d:%02d", t.Hour, t.Minute);
            if (!times.empty()) times += ' ';
            times += buf;
        }
        for (const std::string& t : p.BadTimes) times += " (неверное время " + Quoted(t) + ")";
        std::string next;
        if (!b.Active) {
            next = "нет: автоархивация выключена";
        } else if (auto slot = p.Runs() ? NextSlot(p, now) : std::nullopt) {
            next = LocalTimeText(*slot, "%d.%m.%Y %H:%M");
        } else {
            next = "нет: не заданы дни или время";
        }
        std::fprintf(out, "\n№ %d  %s  %s\n", b.Number, Quoted(b.Description).c_str(),
                     b.Active ? "[автоархивация включена]" : "[автоархивация выключена]");
        std::fprintf(out, "    база:              %s\n", b.DBFile.c_str());
        std::fprintf(out, "    каталог архивов:   %s\n", b.ArcDir.c_str());
        std::fprintf(out, "    хранить архивов:   %s\n",
                     b.ArcFileCount > 0 ? std::to_string(b.ArcFileCount).c_str() : "все");
        std::fprintf(out, "    сжимать в ZIP:     %s\n", b.DoZIP ? "да" : "нет");
        std::fprintf(out, "    дни:               %s\n", DaysText(b).c_str());
        std::fprintf(out, "    время:             %s\n", times.empty() ? "не задано" : times.c_str());
        std::fprintf(out, "    следующий запуск:  %s\n", next.c_str());
    }
    return kExitOk;
}

int NowCommand(const std::string& number, std::FILE* out) {
    bool digits = !number.empty() && number.size() <= 9;
    for (char c : number) digits = digits && c >= '0' && c <= '9';
    if (!digits) {
        std::fprintf(stderr, "--now: номер базы должен быть числом (его показывает --list): %s\n",
                     number.c_str());
        return kExitUsage;
    }
    const int n = std::stoi(number);
    const TFirebirdBaseList list(true);
    const TFirebirdBase* base = nullptr;
    for (std::size_t i = 0; i < list.Count(); ++i)
        if (list[i]->Number == n) base = list[i];
    if (base == nullptr) {
        std::fprintf(stderr, "--now: в списке %s нет базы № %d (список показывает --list)\n",
                     ListFilePath().c_str(), n);
        return kExitUsage;
    }
    const TSetting setting(true);
    TEventLog log(ServiceLogPath(), out);
    log.SetSecret(setting.SYSDBAPassword);
    TCancel cancel;
    TStopHooks hooks;
    hooks.Stop = [&] { cancel.Request(); };
    hooks.GiveUp = [&](double) {
        for (const std::string& f : cancel.PartFiles()) platform::DeleteFile(f);
        log.Write("Архивация не остановилась; команда --now завершается без неё.");
    };
    return RunStoppable(
        [&] {
            TLockFile runLock(RunLockPath());
            bool told = false;
            if (!runLock.Lock([&] {
                    if (!told) log.Write("Ждём окончания архивации, которую выполняет служба...");
                    told = true;
                    return !cancel.Requested();
                }))
                return kExitFailed;
            TArchiveJob job(*base, setting, log, &cancel);
            return job.Run("по команде --now").Ok ? kExitOk : kExitFailed;
        },
        hooks);
}

int CheckCommand(std::FILE* out) {
    const TSetting setting(true);
    TReport r(out, setting.SYSDBAPassword);
    r.Line("Проверка установки службы автоархивации");
    r.Line("Каталог файлов: " + platform::DataDir());

    r.Line("Файлы:");
    const std::string listPath = ListFilePath();
    if (!platform::FileExists(listPath))
        r.Problem("файл списка баз не найден: " + listPath + " (службе нечего архивировать)");
    else if (!ReadableFile(listPath))
        r.Problem("файл списка баз не читается: " + listPath);
    else
        r.Fine("список баз " + listPath);
    const std::string settingsPath = SettingsFilePath();
    if (!platform::FileExists(settingsPath))
        r.Problem("файл настроек сервера не найден: " + settingsPath +
                  " (служба возьмёт пароль SYSDBA и библиотеку по умолчанию)");
    else if (!ReadableFile(settingsPath))
        r.Problem("файл настроек сервера не читается: " + settingsPath);
    else
        r.Fine("настройки сервера " + settingsPath);
    if (!platform::IsWritableDirectory(platform::DataDir()))
        r.Problem("в каталоге " + platform::DataDir() +
                  " нельзя писать: служба не сможет вести журнал " + ServiceLogPath());
    else
        r.Fine("журнал событий " + ServiceLogPath());

    r.Line("Firebird:");
    try {
        AcquireClientLibrary(setting.LibraryName);
        r.Fine("клиентская библиотека " + setting.LibraryName + " загружается");
    } catch (const std::exception& e) {
        r.Problem("клиентская библиотека " + setting.LibraryName + " не загружается: " + e.what());
    }
    const TServerProbe probe =
        ProbeServerRoute(setting.Server, setting.LibraryName, setting.SYSDBAPassword, true);
    const bool embedded = probe.Route.IsEmbedded();
    if (embedded) {
        r.Fine("сервер " + probe.Asked +
               " не отвечает; архивы будет писать встроенный движок Firebird");
    } else if (!probe.Error.empty()) {
        r.Problem("сервер " + probe.Asked + " не принял SYSDBA с паролем из настроек: " +
                  probe.Error);
    } else {
        r.Fine("сервер " + probe.Asked + " (" + probe.Version + ") принял пароль SYSDBA");
        if (!IsLoopbackServer(probe.Asked))
            r.Problem("сервер " + probe.Asked +
                      " не на этой машине: служба работает только с сервером своей машины");
    }
    const std::string writer = embedded ? std::string() : ServerUserName();

    const TFirebirdBaseList list(true);
    const std::vector<TPlan> plans = PlansOf(list);
    r.Line("Базы (" + std::to_string(list.Count()) + "):");
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TFirebirdBase& b = *list[i];
        const std::string who = "База " + Quoted(b.Description) + " (№ " + std::to_string(b.Number) + ")";
        if (!b.Active) {
            r.Line("  " + who + ": автоархивация выключена");
            continue;
        }
        const int before = r.Problems();
        if (!b.DBFile.empty() && !platform::FileExists(b.DBFile))
            r.Problem(who + ": файл базы не найден: " + b.DBFile);
        if (!b.ArcDir.empty() && platform::DirectoryExists(b.ArcDir)) {
            const auto may = writer.empty() ? std::nullopt : UserMayWriteDirectory(writer, b.ArcDir);
            if (may.has_value() && !*may)
                r.Problem(who + ": в каталог архивов " + b.ArcDir + " не может писать пользователь " +
                          writer + ", от имени которого сервер пишет архивы");
            else if (!may.has_value() && !platform::IsWritableDirectory(b.ArcDir))
                r.Problem(who + ": в каталог архивов " + b.ArcDir + " нельзя писать");
        }
        for (const std::string& p : TAutoArchiver::ConfigurationProblems(list, plans)) {
            if (p.find("(№ " + std::to_string(b.Number) + ")") != std::string::npos) r.Problem(p);
        }
        if (r.Problems() == before) r.Fine(who);
    }
    r.Line(r.Problems() == 0 ? "Проблем не найдено."
                             : "Найдено проблем: " + std::to_string(r.Problems()) + ".");
    return r.Problems() == 0 ? kExitOk : kExitFailed;
}

void PrintHelp(std::FILE* out) {
    std::fprintf(out, "%s",
                 "QuillmoorService — служба автоархивации баз данных Firebird.\n"
                 "\n"
                 "Без аргументов программа работает как служба (её запускает systemd или\n"
                 "диспетчер служб Windows): по расписанию из списка баз делает архивы.\n"
                 "\n"
                 "Команды администратора:\n"
                 "  --list     список баз с расписанием и следующим запуском каждой\n"
                 "  --now N    сразу сделать архив базы № N (номер из --list); журнал\n"
                 "             выводится на экран; код выхода 0 при успехе, 1 при ошибке\n"
                 "  --check    проверить установку: файлы, библиотеку Firebird, пароль\n"
                 "             SYSDBA, каталоги архивов; код выхода 0, когда всё в порядке\n"
                 "  --help     эта справка\n"
                 "\n"
                 "Файлы (в каталоге программы или в каталоге из QUILLMOOR_DATA_DIR):\n"
                 "  Quillmoor.bse            список баз (пишет программа управления)\n"
                 "  Quillmoor.srv            настройки сервера: пароль SYSDBA, библиотека\n"
                 "  Quillmoor.log            журнал событий службы (Quillmoor.log.1 — прежний)\n"
                 "  QuillmoorService.state   что служба уже сделала (для пропущенных запусков)\n"
                 "  QuillmoorService.lock, QuillmoorService.run.lock   блокировки\n");
}

int RunCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) {
        TEventLog log(ServiceLogPath(), stderr);
        TAutoArchiver archiver(log);
        return RunService(archiver);
    }
    const std::string& cmd = args[0];
    if (cmd == "--help" || cmd == "-h") {
        PrintHelp(stdout);
        return kExitOk;
    }
    if (cmd == "--list" && args.size() == 1) return ListCommand(stdout);
    if (cmd == "--check" && args.size() == 1) return CheckCommand(stdout);
    if (cmd == "--now" && args.size() == 2) return NowCommand(args[1], stdout);
    std::fprintf(stderr, "Неизвестная команда: %s\n\n", cmd.c_str());
    PrintHelp(stderr);
    return kExitUsage;
}

}  // namespace qm::archiver
