#pragma once

#include <ctime>

namespace qm::platform {

// The calendar time of the moment in the system's time zone, thread-safe.
inline std::tm LocalTime(std::time_t t) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

}  // namespace qm::platform
