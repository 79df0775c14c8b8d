// Stopping and restarting the running backup agent programs around the
// installation.
#pragma once

void SetAgentPrefix(const char* ipcPrefix);
// True when the backup engine runs; the refusal has then been shown.
bool RefuseIfEngineRunning();
// Asks the launcher and the tray program to exit; true when the launcher is to
// be started again afterwards.
bool StopAgents();
void RestartLauncher();
