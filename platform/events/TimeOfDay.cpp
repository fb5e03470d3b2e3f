#include "TimeOfDay.h"

#include <sys/time.h>
#include <ctime>
#include <time.h>

namespace {

int (*g_pfnSource)() = nullptr;
int64_t (*g_pfnWallSource)() = nullptr;

int SystemMillisecondsOfDay()
{
    timeval now {};
    ::gettimeofday(&now, nullptr);
    const time_t nSeconds = now.tv_sec;
    tm local {};
    ::localtime_r(&nSeconds, &local);
    return ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + static_cast<int>(now.tv_usec / 1000);
}

} // namespace

int MillisecondsOfDay()
{
    return g_pfnSource ? g_pfnSource() : SystemMillisecondsOfDay();
}

int SecondsOfDay()
{
    return MillisecondsOfDay() / 1000;
}

void SetTimeOfDaySource(int (*pfnMilliseconds)())
{
    g_pfnSource = pfnMilliseconds;
}

int64_t WallClockMs()
{
    if (g_pfnWallSource)
        return g_pfnWallSource();
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SetWallClockSource(int64_t (*pfnMilliseconds)())
{
    g_pfnWallSource = pfnMilliseconds;
}
