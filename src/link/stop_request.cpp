#include "link/stop_request.h"

#include <signal.h>

#include <cstring>

namespace ku {

namespace {

StopRequest stopRequest;
void (*wakeUp)(int) = nullptr;

extern "C" void onStopSignal(int signal) {
  stopRequest.request(signal);
  if (wakeUp) wakeUp(signal);
}

}  // namespace

void StopRequest::request(int signal) noexcept {
  int none = 0;
  signal_.compare_exchange_strong(none, signal);
  if (signal == SIGINT) interrupts_.fetch_add(1);
}

void StopRequest::clear() noexcept {
  signal_.store(0);
  interrupts_.store(0);
}

StopRequest& processStopRequest() {
  return stopRequest;
}

void installStopHandlers(void (*wake)(int signal)) {
  wakeUp = wake;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

std::string signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace ku
