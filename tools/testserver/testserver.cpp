// A small HTTP server on loopback for tests: it answers each request with the next answer from
// its command line and writes every request it receives to a log file. One connection at a time;
// every answer closes its connection. Builds for Linux and for Windows.
//
//   testserver [--port N] [--port-file FILE] [--log FILE] [--hang-seconds S] [--idle-seconds S]
//              [--stop-file FILE] [--content-type TEXT] ANSWER...
//
// ANSWER: STATUS[:BODY]   that status with that body (200:1, 500:oops, 204)
//         STATUS@FILE     that status with the content of FILE as the body
//         refuse          the connection is accepted and reset at once; nothing is read or sent
//         hang            the request is read and logged, then nothing is sent until the client
//                         gives up (or --hang-seconds pass, default 120)
// Every answer carries the Content-Type TEXT (default "text/plain; charset=utf-8").
// The n-th request gets the n-th answer; once the list is used up the last answer repeats.
// Without answers every request gets "200:1".
//
// The server listens on 127.0.0.1, on port N or (N = 0, the default) on a free port. Once it
// listens it writes the port to the port file (written whole, then renamed into place), or
// without one prints it on a line of its own on standard output. It ends when no connection came
// for --idle-seconds (default 600), when the stop file (if given) appears, or when it is killed.
//
// Log file (appended to, default testserver.log), one record per request, written before the
// answer is sent:
//   REQUEST <n> <answer: the status, "refuse" or "hang">
//   <request line>            e.g. POST /tfr_x.aspx?mmid=3 HTTP/1.1
//   <header lines>            as received
//   <empty line>
//   BODY <length>             the body after any chunked transfer coding is removed
//   <the body's bytes>
//   END
// A refused connection is logged as the REQUEST line and END alone. Lines end with LF.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using Socket = int;
constexpr Socket kNoSocket = -1;
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Answer {
    enum Kind { kReply, kRefuse, kHang } kind = kReply;
    int status = 200;
    std::string body = "1";
    std::string label;  // as logged
};

struct Options {
    int port = 0;
    std::string portFile;
    std::string logFile = "testserver.log";
    int hangSeconds = 120;
    int idleSeconds = 600;
    std::string stopFile;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<Answer> answers;
};

void CloseSocket(Socket s) {
#ifdef _WIN32
    ::closesocket(s);
#else
    ::close(s);
#endif
}

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "testserver: %s\n", problem.c_str());
    std::fprintf(stderr,
                 "usage: testserver [--port N] [--port-file FILE] [--log FILE] [--hang-seconds S]"
                 " [--idle-seconds S] [--stop-file FILE] [--content-type TEXT] ANSWER...\n"
                 "ANSWER: STATUS[:BODY] | STATUS@FILE | refuse | hang\n");
    std::exit(2);
}

bool ReadFile(const std::string& path, std::string* content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    *content = text.str();
    return true;
}

Answer ParseAnswer(const std::string& text) {
    Answer answer;
    answer.label = text;
    if (text == "refuse") {
        answer.kind = Answer::kRefuse;
        return answer;
    }
    if (text == "hang") {
        answer.kind = Answer::kHang;
        return answer;
    }
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits != 3) Usage("bad answer: " + text);
    answer.status = std::atoi(text.substr(0, 3).c_str());
    answer.label = text.substr(0, 3);
    answer.body.clear();
    if (digits == text.size()) return answer;
    if (text[digits] == ':') {
        answer.body = text.substr(digits + 1);
    } else if (text[digits] == '@') {
        if (!ReadFile(text.substr(digits + 1), &answer.body))
            Usage("cannot read " + text.substr(digits + 1));
    } else {
        Usage("bad answer: " + text);
    }
    return answer;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--port") {
            options.port = std::atoi(value().c_str());
        } else if (arg == "--port-file") {
            options.portFile = value();
        } else if (arg == "--log") {
            options.logFile = value();
        } else if (arg == "--hang-seconds") {
            options.hangSeconds = std::atoi(value().c_str());
        } else if (arg == "--idle-seconds") {
            options.idleSeconds = std::atoi(value().c_str());
        } else if (arg == "--stop-file") {
            options.stopFile = value();
        } else if (arg == "--content-type") {
            options.contentType = value();
        } else if (arg.rfind("--", 0) == 0) {
            Usage("unknown option " + arg);
        } else {
            options.answers.push_back(ParseAnswer(arg));
        }
    }
    if (options.answers.empty()) options.answers.push_back(ParseAnswer("200:1"));
    return options;
}

// Waits until the socket can be read; false after `seconds`.
bool Readable(Socket s, int seconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout{seconds, 0};
    return ::select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &timeout) > 0;
}

// Reads what comes next into `data`; false at the end of the stream, on an error or after
// `seconds` without data.
bool ReadMore(Socket s, std::string* data, int seconds) {
    if (!Readable(s, seconds)) return false;
    char buffer[8192];
    const auto got = ::recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    data->append(buffer, static_cast<std::size_t>(got));
    return true;
}

void SendAll(Socket s, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
#ifdef _WIN32
        const int n = ::send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
#else
        const auto n = ::send(s, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
#endif
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The value of a header in the head's lines (name without regard to case), or empty.
std::string HeaderValue(const std::vector<std::string>& lines, const std::string& name) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string::npos || Lower(lines[i].substr(0, colon)) != name) continue;
        std::string value = lines[i].substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        while (!value.empty() && value.back() == ' ') value.pop_back();
        return value;
    }
    return {};
}

struct Request {
    std::vector<std::string> head;  // request line and header lines
    std::string body;
};

// Reads one request: the head, then the body by Content-Length or chunked coding. Answers
// "Expect: 100-continue" at once. False when the client sent no complete head.
bool ReadRequest(Socket s, Request* request) {
    constexpr int kSeconds = 10;
    std::string data;
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > (1u << 20) || !ReadMore(s, &data, kSeconds)) return false;
    }
    std::istringstream head(data.substr(0, headEnd));
    std::string line;
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        request->head.push_back(line);
    }
    std::string rest = data.substr(headEnd + 4);
    if (Lower(HeaderValue(request->head, "expect")) == "100-continue") {
        SendAll(s, "HTTP/1.1 100 Continue\r\n\r\n");
    }
    if (Lower(HeaderValue(request->head, "transfer-encoding")).find("chunked") !=
        std::string::npos) {
        for (;;) {
            std::size_t lineEnd;
            while ((lineEnd = rest.find("\r\n")) == std::string::npos) {
                if (!ReadMore(s, &rest, kSeconds)) return true;
            }
            const unsigned long size = std::strtoul(rest.substr(0, lineEnd).c_str(), nullptr, 16);
            rest.erase(0, lineEnd + 2);
            if (size == 0) return true;
            while (rest.size() < size + 2) {
                if (!ReadMore(s, &rest, kSeconds)) {
                    request->body += rest.substr(0, size);
                    return true;
                }
            }
            request->body += rest.substr(0, size);
            rest.erase(0, size + 2);
        }
    }
    const std::size_t length =
        std::strtoul(HeaderValue(request->head, "content-length").c_str(), nullptr, 10);
    while (rest.size() < length && ReadMore(s, &rest, kSeconds)) {
    }
    request->body = rest.substr(0, length);
    return true;
}

void AppendLog(const std::string& path, const std::string& record) {
    if (std::FILE* log = std::fopen(path.c_str(), "ab")) {
        std::fwrite(record.data(), 1, record.size(), log);
        std::fclose(log);
    }
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 202:
            return "Accepted";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

void Serve(Socket connection, const Answer& answer, int number, const Options& options) {
    const std::string title = "REQUEST " + std::to_string(number) + " " + answer.label + "\n";
    if (answer.kind == Answer::kRefuse) {
        AppendLog(options.logFile, title + "END\n");
        // A reset rather than an orderly close: the client sees the connection dropped.
        linger reset{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                     sizeof reset);
        return;
    }
    Request request;
    if (!ReadRequest(connection, &request)) {
        AppendLog(options.logFile, title + "INCOMPLETE\nEND\n");
        return;
    }
    std::string record = title;
    for (const std::string& line : request.head) record += line + "\n";
    record += "\nBODY " + std::to_string(request.body.size()) + "\n" + request.body + "\nEND\n";
    AppendLog(options.logFile, record);
    if (answer.kind == Answer::kHang) {
        // Until the client gives up (its end closes) or time runs out; whatever else it sends
        // is read and dropped.
        const std::time_t until = std::time(nullptr) + options.hangSeconds;
        while (std::time(nullptr) < until) {
            if (!Readable(connection, 1)) continue;
            char buffer[4096];
            if (::recv(connection, buffer, sizeof buffer, 0) <= 0) break;
        }
        return;
    }
    std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) +
                        "\r\nContent-Type: " + options.contentType +
                        "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                        "\r\nConnection: close\r\n\r\n";
    reply += answer.body;
    SendAll(connection, reply);
#ifdef _WIN32
    ::shutdown(connection, SD_SEND);
#else
    ::shutdown(connection, SHUT_WR);
#endif
    // Lets the client read the answer before the socket goes.
    std::string ignored;
    while (ReadMore(connection, &ignored, 2)) {
    }
}

bool WritePortFile(const std::string& path, int port) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!(out << port << "\n")) return false;
    }
    std::remove(path.c_str());
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
#ifdef _WIN32
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "testserver: WSAStartup failed\n");
        return 1;
    }
#else
    ::signal(SIGPIPE, SIG_IGN);
#endif
    const Socket listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kNoSocket) {
        std::fprintf(stderr, "testserver: no socket\n");
        return 1;
    }
#ifndef _WIN32
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(options.port));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        std::fprintf(stderr, "testserver: cannot listen on 127.0.0.1:%d\n", options.port);
        return 1;
    }
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const int port = ntohs(address.sin_port);
    if (options.portFile.empty()) {
        std::printf("%d\n", port);
        std::fflush(stdout);
    } else if (!WritePortFile(options.portFile, port)) {
        std::fprintf(stderr, "testserver: cannot write %s\n", options.portFile.c_str());
        return 1;
    }

    int served = 0;
    std::time_t lastConnection = std::time(nullptr);
    for (;;) {
        // A twentieth of a second at a time, so that the stop file is seen soon.
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener, &set);
        timeval wait{0, 50000};
        if (::select(static_cast<int>(listener) + 1, &set, nullptr, nullptr, &wait) <= 0) {
            if (!options.stopFile.empty()) {
                if (std::FILE* stop = std::fopen(options.stopFile.c_str(), "rb")) {
                    std::fclose(stop);
                    break;
                }
            }
            if (std::time(nullptr) - lastConnection >= options.idleSeconds) break;
            continue;
        }
        lastConnection = std::time(nullptr);
        const Socket connection = ::accept(listener, nullptr, nullptr);
        if (connection == kNoSocket) continue;
        const std::size_t index =
            std::min<std::size_t>(static_cast<std::size_t>(served), options.answers.size() - 1);
        ++served;
        Serve(connection, options.answers[index], served, options);
        CloseSocket(connection);
    }
    CloseSocket(listener);
    return 0;
}
