// The backup agent programs are reached through their shared-memory command
// channel. This build does not talk to them yet: no engine is reported as
// running and no launcher is restarted.
#include "agent/agent_control.hpp"

namespace {

char agentPrefix[3];

}  // namespace

void SetAgentPrefix(const char* ipcPrefix) {
  agentPrefix[0] = ipcPrefix[0];
  agentPrefix[1] = ipcPrefix[1];
  agentPrefix[2] = '\0';
}

bool RefuseIfEngineRunning() { return false; }

bool StopAgents() { return false; }

void RestartLauncher() {}
