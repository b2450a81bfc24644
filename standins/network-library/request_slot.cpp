#include "request_slot.h"

#include <utility>

bool CRequestSlot::Hold(HINTERNET request) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_aborted) return false;
  m_request = request;
  return true;
}

HINTERNET CRequestSlot::Return() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return std::exchange(m_request, nullptr);
}

void CRequestSlot::Abort() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_aborted = true;
  if (m_request) ::WinHttpCloseHandle(std::exchange(m_request, nullptr));
}
