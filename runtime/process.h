// Process-wide facts that several subsystems read: the time of start and the event-loop flag.
#pragma once

#include "value.h"

#include <cstdint>
#include <functional>
#include <string_view>

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

// Public variables: one table for the process; names compare without regard to case.
// PUBLICVAR(name, value) creates the variable (or gives an existing one the value);
// PUBLICVALUE(name) answers its value, nil when there is no such variable.
void PUBLICVAR(std::string_view name, const Value& value);
bool ISPUBLIC(std::string_view name);
Value PUBLICVALUE(std::string_view name);

// SETKEY(nKey[, bAction]): the action bound to a key (an inkey code); a block given binds it.
// Answers the action bound before.
Value SETKEY(std::int64_t nKey, const Value& bAction = {});
inline constexpr std::int64_t K_F1 = 28;

// The help routine that the help key runs (with the routine name, line and variable name of the
// place it was pressed); a program without one leaves it empty and the key does nothing.
void setHelpRoutine(std::function<void(Args)> routine);
// __SETHELPK: binds the help key (F1) to a block that runs the help routine.
void __SETHELPK();

}  // namespace rt
