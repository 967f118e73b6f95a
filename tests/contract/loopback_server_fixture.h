// The loopback HTTP server of the tests (tools/testserver) run as a separate process, and the
// requests it recorded. The same on both test binaries: natively the host program, in the Windows
// test binary testserver.exe beside it.
//
//     contract::LoopbackServer server({"500:oops", "200:1"});
//     post to server.Url("/tfr_x.aspx?a=1") ...
//     server.Requests()[0].body
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace contract {

struct RecordedRequest {
    std::string answer;  // as the server logged it: the status, "refuse" or "hang"
    std::string method;
    std::string target;  // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // A header's value (its name without regard to case); empty when it was not sent.
    std::string Header(const std::string& name) const;
};

class LoopbackServer {
public:
    // Answers as testserver takes them: "STATUS[:BODY]", "refuse", "hang".
    explicit LoopbackServer(const std::vector<std::string>& answers);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string HostAndPort() const;
    // "http://127.0.0.1:<port>" + pathAndQuery
    std::string Url(const std::string& pathAndQuery = "/") const;
    // The requests received so far, in order.
    std::vector<RecordedRequest> Requests() const;

    // A loopback port on which nothing listens (bound, then closed again).
    static int UnusedPort();

private:
    std::filesystem::path folder_;
    int port_ = 0;
    std::uintptr_t process_ = 0;  // the server's process: a pid, or a process handle on Windows
};

}  // namespace contract
