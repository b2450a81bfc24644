#pragma once

#include "net/http_task.h"

// The record of one report, as an implementation hands it to OnTaskResult.
// `body` (bodyLength bytes; null when there are none) must outlive the call.
inline TaskResult MakeTaskResult(int32_t state, int32_t firstError, int32_t secondError,
                                 const char* body = nullptr, int32_t bodyLength = 0) {
  TaskResult result = {};
  result.state = state;
  result.firstError = firstError;
  result.secondError = secondError;
  result.body = body;
  result.bodyLength = bodyLength;
  return result;
}

// A base for implementations of IHttpTask (the stand-in network library and
// the test libraries): it answers the slots the program never calls, so an
// implementation states only SetCallback, Start, Release and SetOption.
// ReservedSlotCalled lets a test notice a call that should never come.
class CHttpTaskBase : public IHttpTask {
 public:
  int Reserved2() override { return ReservedSlotCalled(2); }
  int Reserved4() override { return ReservedSlotCalled(4); }
  int Reserved5() override { return ReservedSlotCalled(5); }
  int Reserved6() override { return ReservedSlotCalled(6); }
  int Reserved7() override { return ReservedSlotCalled(7); }
  int Reserved8() override { return ReservedSlotCalled(8); }
  int Reserved9() override { return ReservedSlotCalled(9); }
  int Reserved10() override { return ReservedSlotCalled(10); }
  int Reserved11() override { return ReservedSlotCalled(11); }

 protected:
  ~CHttpTaskBase() = default;

  // What a reserved slot returns; `slot` is its position in the table.
  virtual int ReservedSlotCalled(int /*slot*/) { return 0; }
};
