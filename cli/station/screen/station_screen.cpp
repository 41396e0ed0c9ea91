#include "cli/station/screen/station_screen.h"

// Asio first: on Windows its socket headers must come before windows.h.
// Boost 1.74's coroutine header uses std::exchange without <utility>.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <list>
#include <optional>
#include <string_view>

#include "cli/system/platform.h"
#include "cli/station/screen/page_files.h"

namespace morvane::cli {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;

constexpr auto kRequestBound = 5s;       // a request's whole arrival
constexpr auto kWriteBound = 10s;        // each answer's, or each event's, leaving
constexpr auto kLook = 50ms;             // how often a live page's board is looked at: well inside 300 ms
constexpr auto kKeepAlive = 15s;         // a live page hears something this often, so a gone one is found
constexpr auto kStreamLife = 30min;      // then the page's browser connects again, by itself
constexpr std::size_t kMostAsking = 32;  // connections not (yet) following the board
constexpr int kMostStreams = 32;         // pages following it
// A page that stops reading fills this soon, and its writes then reach their bound.
constexpr int kStreamSendBuffer = 32 * 1024;
constexpr std::size_t kTokenBytes = 16;  // 128 bits
constexpr std::size_t kRequestLimit = 8 * 1024;

class Connection;

// What the connections share; only the screen's thread touches it.
struct Shared {
    const StationBoard& board;
    ScreenAddress address;
    std::string token;
    // The connections that ask, oldest first: a new one past the bound
    // ends the oldest, so that idle sockets, whoever opens them, cannot
    // keep the operator's page out.
    std::list<std::weak_ptr<Connection>> asking;
    int streams = 0;
};

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

// What every answer says of itself: no framing by other pages, nothing run
// but its own files, no guessing of types, never cached, and the address
// (which holds the token) passed on to nobody.
template <class Fields>
void Protect(Fields& fields) {
    fields.set("Content-Security-Policy", "default-src 'self'");
    fields.set("X-Content-Type-Options", "nosniff");
    fields.set("X-Frame-Options", "DENY");
    fields.set(http::field::cache_control, "no-store");
    fields.set("Referrer-Policy", "no-referrer");
}

const char* Reason(int status) {
    switch (status) {
        case 401: return "This screen's address has a token: use the whole address the station printed.\n";
        case 403: return "This screen answers to its own address and to localhost only.\n";
        case 404: return "Nothing here.\n";
        case 405: return "This screen only reads: GET and HEAD.\n";
        case 503: return "Too many pages follow this station already.\n";
        default: return "";
    }
}

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, Shared& shared)
        : stream_(std::move(socket)), timer_(stream_.get_executor()), shared_(shared) {}
    ~Connection() { Leave(); }

    void Start() {
        if (shared_.asking.size() >= kMostAsking)
            if (const std::shared_ptr<Connection> oldest = shared_.asking.front().lock()) oldest->Close();
        if (shared_.asking.size() >= kMostAsking) shared_.asking.pop_front();
        asking_ = shared_.asking.insert(shared_.asking.end(), weak_from_this());
        Read();
    }

private:
    void Read() {
        parser_.emplace();
        parser_->header_limit(kRequestLimit);
        parser_->body_limit(kRequestLimit);
        stream_.expires_after(kRequestBound);
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&Connection::OnRead, shared_from_this()));
    }

    void OnRead(beast::error_code ec, std::size_t) {
        if (ec) return Close();
        const auto& request = parser_->get();
        // Exactly one Host: with two, which one names the screen is anyone's guess.
        const auto host = request.find(http::field::host);
        const bool oneHost = request.count(http::field::host) == 1;
        const ScreenVerdict verdict =
            JudgeRequest(View(request.method_string()), View(request.target()),
                         oneHost ? std::optional<std::string_view>(View(host->value())) : std::nullopt, shared_.address,
                         shared_.token);
        version_ = request.version();
        keepAlive_ = request.keep_alive();
        head_ = request.method() == http::verb::head;
        if (verdict.status == 200 && verdict.resource == ScreenResource::Events && !head_) {
            if (shared_.streams < kMostStreams) return StartEvents();
            return Answer({503});
        }
        Answer(verdict);
    }

    void Answer(const ScreenVerdict& verdict) {
        auto response =
            std::make_shared<http::response<http::string_body>>(static_cast<http::status>(verdict.status), version_);
        Protect(*response);
        if (verdict.status != 200) {
            response->set(http::field::content_type, "text/plain; charset=utf-8");
            response->body() = Reason(verdict.status);
            if (verdict.status == 405) response->set(http::field::allow, "GET, HEAD");
        } else if (const std::optional<PageFile> file = PageFileOf(verdict.resource)) {
            response->set(http::field::content_type, file->type);
            std::string body(file->body);
            // The page names its script and style with the token, which
            // each request needs.
            if (verdict.resource == ScreenResource::Page)
                for (std::size_t at = body.find("{{token}}"); at != std::string::npos; at = body.find("{{token}}", at))
                    body.replace(at, 9, shared_.token);
            response->body() = std::move(body);
        } else if (verdict.resource == ScreenResource::State) {
            response->set(http::field::content_type, "application/json");
            response->body() = shared_.board.Snapshot();
        } else {
            response->set(http::field::content_type, "text/event-stream");
        }
        response->keep_alive(keepAlive_ && verdict.status == 200);
        response->prepare_payload();
        if (!head_) return Send(response);
        // HEAD: the same header, its Content-Length kept, and no body.
        auto header = std::make_shared<http::response<http::empty_body>>();
        header->base() = response->base();
        Send(header);
    }

    template <class Message>
    void Send(std::shared_ptr<Message> message) {
        stream_.expires_after(kWriteBound);
        http::async_write(stream_, *message, [self = shared_from_this(), message](beast::error_code ec, std::size_t) {
            if (ec || !message->keep_alive()) return self->Close();
            self->Read();
        });
    }

    // Server-Sent Events: the board whole at once, then each time it
    // changes. The stream ends with the connection.
    void StartEvents() {
        Leave();
        streaming_ = true;
        ++shared_.streams;
        streamStart_ = std::chrono::steady_clock::now();
        beast::error_code ignored;
        stream_.socket().set_option(net::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
        auto header = std::make_shared<http::response<http::empty_body>>(http::status::ok, version_);
        Protect(*header);
        header->set(http::field::content_type, "text/event-stream");
        header->keep_alive(false);
        stream_.expires_after(kWriteBound);
        http::async_write(stream_, *header, [self = shared_from_this(), header](beast::error_code ec, std::size_t) {
            if (ec) return self->Close();
            self->WatchForGoing();
            self->SendState("retry: 1000\n");
        });
    }

    // A live page sends nothing: anything readable is its going.
    void WatchForGoing() {
        stream_.socket().async_wait(tcp::socket::wait_read,
                                    [self = shared_from_this()](beast::error_code) { self->Close(); });
    }

    void SendState(const char* before = "") {
        // The version before the snapshot: a change while it is taken is sent again.
        seen_ = shared_.board.Version();
        event_ = before;
        event_ += "data: " + shared_.board.Snapshot() + "\n\n";
        Write();
    }

    void Write() {
        stream_.expires_after(kWriteBound);
        net::async_write(stream_, net::buffer(event_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return self->Close();
            self->lastSent_ = std::chrono::steady_clock::now();
            self->Wait();
        });
    }

    void Wait() {
        if (closed_) return;
        timer_.expires_after(kLook);
        timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
            if (ec || self->closed_) return;
            const auto now = std::chrono::steady_clock::now();
            if (now - self->streamStart_ >= kStreamLife) return self->Close();
            if (self->shared_.board.Version() != self->seen_) return self->SendState();
            if (now - self->lastSent_ >= kKeepAlive) {
                self->event_ = ": still here\n\n";
                return self->Write();
            }
            self->Wait();
        });
    }

    // Out of the asking connections, or of the streams.
    void Leave() {
        if (asking_) shared_.asking.erase(*asking_);
        asking_.reset();
        if (streaming_) --shared_.streams;
        streaming_ = false;
    }

    void Close() {
        if (closed_) return;
        closed_ = true;
        Leave();
        timer_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    beast::tcp_stream stream_;
    net::steady_timer timer_;
    Shared& shared_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    unsigned version_ = 11;
    bool keepAlive_ = false;
    bool head_ = false;
    bool closed_ = false;
    std::optional<std::list<std::weak_ptr<Connection>>::iterator> asking_;
    bool streaming_ = false;
    std::chrono::steady_clock::time_point streamStart_;
    std::uint64_t seen_ = 0;
    std::string event_;
    std::chrono::steady_clock::time_point lastSent_;
};

std::string NewToken() {
    unsigned char bytes[kTokenBytes];
    if (!SecureRandomBytes(bytes, sizeof bytes)) return {};
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += digits[b >> 4];
        token += digits[b & 15];
    }
    return token;
}

}  // namespace

struct StationScreen::Impl {
    Impl(const StationBoard& board, const ScreenAddress& address, std::string token)
        : shared{board, address, std::move(token), {}, 0} {}

    void Accept() {
        acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted) return;
            if (!ec) {
                Accept();
                try {
                    std::make_shared<Connection>(std::move(socket), shared)->Start();
                } catch (const std::exception&) {
                    // That connection goes (out of memory, say); the screen stays.
                }
                return;
            }
            // Out of descriptors, say: again shortly, not at once in a spin.
            retry.expires_after(100ms);
            retry.async_wait([this](beast::error_code wait) {
                if (!wait) Accept();
            });
        });
    }

    void Run() {
        for (;;) {
            try {
                io.run();
                return;
            } catch (const std::exception&) {
                // A connection that failed (out of memory, say) goes; the screen stays.
            }
        }
    }

    // Declared first, so that the connections the context still holds go before it.
    Shared shared;
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    net::steady_timer retry{io};
    std::unique_ptr<Thread> thread;
};

std::unique_ptr<StationScreen> StationScreen::Start(const ScreenAddress& address, const StationBoard& board,
                                                    std::string* error) {
    const std::string where = UrlHost(address.host) + ":" + std::to_string(address.port);
    std::string token = NewToken();
    if (token.empty()) {
        *error = "the station's screen gets no token: the system gives no random bytes";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(board, address, std::move(token));
    beast::error_code ec;
    const net::ip::address ip = net::ip::make_address(address.host, ec);
    const tcp::endpoint endpoint(ip, address.port);
    if (!ec) impl->acceptor.open(endpoint.protocol(), ec);
#ifndef _WIN32
    // A station started again at once takes its port back; on Windows the
    // option would let another program take it from under the screen.
    if (!ec) impl->acceptor.set_option(net::socket_base::reuse_address(true), ec);
#endif
    if (!ec) impl->acceptor.bind(endpoint, ec);
    if (!ec) impl->acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = "the station's screen cannot listen at " + where + ": " + ec.message();
        return nullptr;
    }
    impl->shared.address.port = impl->acceptor.local_endpoint().port();
    impl->Accept();
    Impl* running = impl.get();
    impl->thread = std::make_unique<Thread>([running] { running->Run(); });
    return std::unique_ptr<StationScreen>(new StationScreen(std::move(impl)));
}

StationScreen::StationScreen(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

StationScreen::~StationScreen() {
    impl_->io.stop();
    impl_->thread.reset();
    // The thread is gone: what it served may be touched here.
    beast::error_code ignored;
    impl_->acceptor.close(ignored);
}

std::string StationScreen::Url() const {
    const ScreenAddress& a = impl_->shared.address;
    return "http://" + UrlHost(a.host) + ":" + std::to_string(a.port) + "/?token=" + impl_->shared.token;
}

}  // namespace morvane::cli
