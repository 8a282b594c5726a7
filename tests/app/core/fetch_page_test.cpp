// FetchPage: the page-load head, true with the body, false with the text untouched, a fresh
// client per call, and loads passing through the installed Waiter.
#include "app/core/fetch_page.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "tests/support/compressed.h"
#include "tests/support/scripted_peer.h"

namespace djkivo::app {
namespace {

using test::OkResponse;
using test::PeerStep;
using test::ScriptedPeer;

TEST(FetchPageTest, SendsThePageLoadHeadAndReturnsTheDecodedBody) {
  using namespace std::string_literals;
  const std::string text = "\xB9\xB7\xCE\xB2\xB2\xDD page bytes\0\xff"s + test::PageText(5000);
  ScriptedPeer peer(
      {ScriptedPeer::AnswerEach({"HTTP/1.1 302 Found\r\nLocation: list_2.html\r\nSet-Cookie: "
                                 "s=1\r\nContent-Length: 0\r\n\r\n",
                                 OkResponse(test::Gzip(text), "Content-Encoding: gzip\r\n")})});
  std::string result = "old";
  ASSERT_TRUE(FetchPage(peer.Url("/dance/sort/list_1.html"), result));
  EXPECT_EQ(result, text);
  const std::vector<std::string> requests = peer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string agent_start = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; ";
  const std::string agent_end = "; .NET CLR 2.0.50727)\r\n\r\n";
  const std::size_t at = requests[0].find(agent_start);
  ASSERT_NE(at, std::string::npos) << requests[0];
  ASSERT_TRUE(requests[0].ends_with(agent_end)) << requests[0];
  const std::string number = requests[0].substr(
      at + agent_start.size(), requests[0].size() - at - agent_start.size() - agent_end.size());
  ASSERT_TRUE(!number.empty() && number.size() <= 5 &&
              number.find_first_not_of("0123456789") == std::string::npos &&
              (number == "0" || number[0] != '0') && std::stoi(number) <= 99998)
      << number;
  EXPECT_EQ(requests[0],
            "GET /dance/sort/list_1.html HTTP/1.1\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(peer.Port()) +
                "\r\n"
                "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                "application/x-shockwave-flash, */*\r\n"
                "Accept-Encoding: gzip, deflate, identity\r\n"
                "Accept-Language: zh-cn\r\n" +
                agent_start + number + agent_end);
  EXPECT_TRUE(requests[1].starts_with("GET /dance/sort/list_2.html HTTP/1.1\r\n"));
  EXPECT_NE(requests[1].find("\r\nCookie: s=1\r\n"), std::string::npos);
}

TEST(FetchPageTest, FailureReturnsFalseAndLeavesTextUntouched) {
  int closed_port = 0;
  {
    ScriptedPeer gone({});
    closed_port = gone.Port();
  }
  ScriptedPeer missing(
      {ScriptedPeer::Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!")});
  ScriptedPeer broken(
      {ScriptedPeer::Answer(OkResponse("not gzip at all", "Content-Encoding: gzip\r\n"))});
  for (const std::string& address :
       {missing.Url("/x"), broken.Url("/x"),
        "http://127.0.0.1:" + std::to_string(closed_port) + "/", std::string("nothing")}) {
    SCOPED_TRACE(address);
    std::string text = "kept";
    EXPECT_FALSE(FetchPage(address, text));
    EXPECT_EQ(text, "kept");
  }
}

TEST(FetchPageTest, EveryCallIsFresh) {
  ScriptedPeer peer({ScriptedPeer::Answer(OkResponse("1", "Set-Cookie: a=1\r\n")),
                     ScriptedPeer::Answer(OkResponse("2")), ScriptedPeer::Answer(OkResponse("3"))});
  std::set<std::string> agents;
  for (const char* expected : {"1", "2", "3"}) {
    std::string text;
    ASSERT_TRUE(FetchPage(peer.Url("/p"), text));
    EXPECT_EQ(text, expected);
  }
  for (const std::string& request : peer.Requests()) {
    EXPECT_EQ(request.find("Cookie:"), std::string::npos);
    agents.insert(request.substr(request.find("User-Agent:")));
  }
  EXPECT_GT(agents.size(), 1u);  // three equal numbers of 99999 would be a broken generator
}

// A waiter like the window's: the load runs on its own thread while the caller waits.
class ThreadWaiter final : public Waiter {
 public:
  void Run(const std::function<void()>& load) override {
    ++runs;
    std::thread thread([&] {
      load_thread = std::this_thread::get_id();
      load();
    });
    thread.join();
  }
  int runs = 0;
  std::thread::id load_thread;
};

TEST(FetchPageTest, LoadsRunThroughTheInstalledWaiter) {
  ThreadWaiter waiter;
  Waiter::Install(&waiter);
  ScriptedPeer peer({ScriptedPeer::Answer(OkResponse("via waiter"))});
  std::string text;
  const bool ok = FetchPage(peer.Url("/"), text);
  Waiter::Install(nullptr);
  EXPECT_TRUE(ok);
  EXPECT_EQ(text, "via waiter");
  EXPECT_EQ(waiter.runs, 1);
  EXPECT_NE(waiter.load_thread, std::this_thread::get_id());
  EXPECT_NE(dynamic_cast<BlockingWaiter*>(&Waiter::Current()), nullptr);
}

}  // namespace
}  // namespace djkivo::app
