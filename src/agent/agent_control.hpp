// Stopping and restarting the running backup agent programs around the
// installation. None of this runs in info mode.
#pragma once

#include "agent/agent_channel.hpp"

// True when the backup engine runs: string 18 has been shown and the engine
// told of the refusal (command 5). The installation must not go on.
bool RefuseIfEngineRunning();
// Asks the launcher, then the tray program, to exit; true when the launcher is
// to be started again after the installation.
bool StopAgents();
// The launcher's shutdown: over the channel, else through its main window
// (WM_COMMAND 40003, then a pause of 3000 ms). True when it is to be
// restarted.
bool StopLauncher();
// Restart query (command 14, reply into noLauncherRestartOnNt), then exit
// request (command 15, reply into `exiting`, 500 ms pause when set). True
// when the launcher answered both on the channel.
bool AskLauncherToExit(int* exiting);
// Exit request to the tray program; true when it confirmed (after 500 ms).
bool StopTray();
// Starts the launcher from the install directory: " -w" on Windows NT, where
// a set reply to the restart query means not at all.
void RestartLauncher();
