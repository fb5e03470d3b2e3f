#include "TimeOfDay.h"

#include <sys/time.h>
#include <ctime>

namespace {

int (*g_pfnSource)() = nullptr;

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
