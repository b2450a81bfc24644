// The stand-in network library in-process, through the same exports and
// virtual slots kvfetch uses: what it reports, and that a released task
// stays silent.
#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "common/wirelink_standin.h"
#include "net/http_task.h"

namespace {

using kvtest::CLoopbackHttpServer;

// Generous: only a broken library comes near it.
const auto kReportLimit = std::chrono::milliseconds(kvtest::ScaledMs(60000));

struct Report {
  IHttpTask* task;
  int32_t state;
  int32_t firstError;
  int32_t secondError;
  std::string body;
};

class CReportRecorder final : public IHttpTaskCallback {
 public:
  void OnTaskResult(IHttpTask* task, const TaskResult* result) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.push_back({task, result->state, result->firstError, result->secondError,
                         std::string(result->body, static_cast<size_t>(result->bodyLength))});
    m_changed.notify_all();
  }

  // The first report with a final state, or none within the limit.
  std::optional<Report> WaitFinal() {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::optional<Report> final;
    m_changed.wait_for(lock, kReportLimit, [&] {
      for (const Report& report : m_reports) {
        if (report.state != kTaskStatePending && report.state != kTaskStateRunning) {
          final = report;
          return true;
        }
      }
      return false;
    });
    return final;
  }

  size_t Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports.size();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Report> m_reports;
};

// Runs one request to completion and returns its final report.
std::optional<Report> Fetch(const std::wstring& url, IHttpTask** taskOut = nullptr) {
  RequestFactory* factory = kvtest::StandInFactory();
  if (factory == nullptr) return std::nullopt;
  std::unique_ptr<IHttpTask, HttpTaskDeletor> task(factory->CreateTask());
  if (!task) return std::nullopt;
  CReportRecorder recorder;
  task->SetOption("ungzip", 0);
  task->SetOption("gzip", 0);
  task->SetCallback(&recorder);
  if (task->Start(0, url.c_str()) == 0) return std::nullopt;
  std::optional<Report> final = recorder.WaitFinal();
  if (taskOut) *taskOut = task.get();
  task->SetCallback(nullptr);
  return final;
}

TEST(WirelinkStandInTest, ReportsOutcomes) {
  const std::string bodyWithNul("{\"errno\":0}\0tail", 16);
  struct Case {
    const char* name;
    int status;
    std::string body;
    int32_t state;
    int32_t secondError;
    std::string reportedBody;
  };
  const Case cases[] = {
      {"200 with NUL in the body", 200, bodyWithNul, kTaskStateSucceeded, 200, bodyWithNul},
      {"200 empty", 200, "", kTaskStateSucceeded, 200, ""},
      {"404", 404, "missing", 3, 404, ""},
      {"500", 500, "", 3, 500, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLoopbackHttpServer server({c.status, c.body});
    IHttpTask* task = nullptr;
    const std::optional<Report> report = Fetch(kvtest::ServiceUrlFor(server.Port()), &task);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->task, task);
    EXPECT_EQ(report->state, c.state);
    EXPECT_EQ(report->firstError, 0);
    EXPECT_EQ(report->secondError, c.secondError);
    EXPECT_EQ(report->body, c.reportedBody);
  }
}

// Bodies WinHTTP hands over without an error although they are broken, and
// redirects, which are never followed: all failures, so kvfetch exits -1.
TEST(WirelinkStandInTest, ReportsBrokenBodiesAndRedirectsAsFailures) {
  const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
  const std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n";
  // If it were followed, the name would not resolve and the first number show it.
  const std::string location = "http://elsewhere.example:8080/config";
  const auto redirect = [&](const std::string& statusLine) {
    return "HTTP/1.1 " + statusLine + "\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
  };
  struct Case {
    std::string raw;
    int32_t state;
    int32_t firstError;
    int32_t secondError;
    std::string body;
  };
  const Case cases[] = {
      {head + "Content-Length: 213\r\n\r\n" + std::string(106, 'x'), 3,
       ERROR_WINHTTP_CONNECTION_ERROR, 200, ""},
      {head + "Content-Length: 5\r\n\r\nhello", kTaskStateSucceeded, 0, 200, "hello"},
      {chunked + "zz\r\nhello\r\n0\r\n\r\n", 3, ERROR_WINHTTP_INVALID_SERVER_RESPONSE, 200, ""},
      {chunked + "5\r\nhello\r\n0\r\n\r\n", kTaskStateSucceeded, 0, 200, "hello"},
      {redirect("301 Moved"), 3, 0, 301, ""},
      {redirect("302 Found"), 3, 0, 302, ""},
      {redirect("307 Temporary"), 3, 0, 307, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    CLoopbackHttpServer server({200, "", false, c.raw});
    const std::optional<Report> report = Fetch(kvtest::ServiceUrlFor(server.Port()));
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->state, c.state);
    EXPECT_EQ(report->firstError, c.firstError);
    EXPECT_EQ(report->secondError, c.secondError);
    EXPECT_EQ(report->body, c.body);
    EXPECT_EQ(server.RequestCount(), 1);
  }
}

TEST(WirelinkStandInTest, ReportsTheWinHttpErrorWhenNobodyListens) {
  int port = 0;
  {
    CLoopbackHttpServer server({});
    port = server.Port();
  }
  const std::optional<Report> report = Fetch(kvtest::ServiceUrlFor(port));
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->state, 3);
  EXPECT_EQ(report->firstError, ERROR_WINHTTP_CANNOT_CONNECT);
  EXPECT_EQ(report->secondError, 0);
}

TEST(WirelinkStandInTest, ReleasedTaskNeverReports) {
  CReportRecorder recorder;
  {
    CLoopbackHttpServer server({200, "late", /*hang=*/true});
    RequestFactory* factory = kvtest::StandInFactory();
    ASSERT_NE(factory, nullptr);
    IHttpTask* task = factory->CreateTask();
    ASSERT_NE(task, nullptr);
    task->SetCallback(&recorder);
    ASSERT_NE(task->Start(0, kvtest::ServiceUrlFor(server.Port()).c_str()), 0);
    const auto deadline = std::chrono::steady_clock::now() + kReportLimit;
    while (server.RequestCount() == 0 && std::chrono::steady_clock::now() < deadline) ::Sleep(10);
    ASSERT_EQ(server.RequestCount(), 1);  // the request is in flight
    task->Release();
    // Shutting the server down ends the exchange the worker was blocked in.
  }
  ::Sleep(500);
  EXPECT_EQ(recorder.Count(), 0u);
}

}  // namespace
