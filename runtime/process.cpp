#include "process.h"

#include "dates.h"

namespace rt {

namespace {
Date g_startDate;
double g_startSeconds = 0;
int g_eventLoop = 0;
}  // namespace

void INITTIME() {
    g_startDate = DATE();
    g_startSeconds = SECONDS();
}

Date startDate() { return g_startDate; }
double startSeconds() { return g_startSeconds; }

int eventLoopFlag() { return g_eventLoop; }

int setEventLoopFlag(int value) {
    const int old = g_eventLoop;
    g_eventLoop = value;
    return old;
}

bool LWRUNNING() { return g_eventLoop != 0; }

}  // namespace rt
