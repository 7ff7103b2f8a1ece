// Process-wide facts that several subsystems read: the time of start and the event-loop flag.
#pragma once

#include "value.h"

namespace rt {

// INITTIME: records today's date and the seconds since midnight; the start-up runs it once.
void INITTIME();
Date startDate();
double startSeconds();

// The event-loop flag: non-zero while a message loop of the dialog framework runs (a modal
// dialog it created, or a main window's loop). The framework sets and restores it; LWRUNNING()
// reports it.
int eventLoopFlag();
int setEventLoopFlag(int value);  // answers the previous value
bool LWRUNNING();

}  // namespace rt
