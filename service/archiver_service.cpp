#include "service/archiver_service.h"

#include "platform/paths.h"
#include "platform/platform.h"

namespace qm {

std::string ServiceDescription() {
    return std::string("Служба для автоматической архивации баз данных Firebird - ") +
           kMakerWebAddress;
}

std::string ServiceExecutablePath() {
    return platform::ExecutableDir() + platform::kServiceExecutable;
}

std::string ServiceLogPath() { return platform::DataDir() + "Quillmoor.log"; }

}  // namespace qm
