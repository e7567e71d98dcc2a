// wm_ping: pings an X11 window the way a window manager does (_NET_WM_PING)
// and times the answers, to see how long a program's window thread goes
// without answering.
//
// Usage: wm_ping (--title TEXT | --pid N) [--duration SECONDS] [--wait SECONDS]
//                [--interval MS] [--log FILE] [--gaps MS]
//   --title     the window whose _NET_WM_NAME (or WM_NAME) is TEXT, UTF-8
//   --pid       a window of the process N (_NET_WM_PID)
//   --duration  stop after this long (default: until SIGINT/SIGTERM or the window goes)
//   --wait      how long to look for the window before giving up (default 10 s)
//   --interval  time between pings (default 50 ms)
//   --log       write one line per ping: milliseconds since start, latency or "-"
//   --gaps      also list every stretch without an answer longer than MS
// Prints one line of figures at the end:
//   pings N answered N longest_gap_ms X p50_ms X p90_ms X p99_ms X max_ms X
// where a gap runs from the start, or from one answer, to the next answer or
// the end; a ping not answered by the end counts in no percentile.
//
// A window advertises _NET_WM_PING in WM_PROTOCOLS; it answers the client
// message by sending it on to the root window. The protocol asks for the
// answer to go to those who select SubstructureNotify or SubstructureRedirect
// there, but Qt sends it with StructureNotify and SubstructureRedirect: this
// program selects both notify masks on the root (SubstructureRedirect is the
// window manager's alone), which sees it with or without a window manager.

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stop_requested = 0;

struct Options {
  std::string title;
  long pid = -1;
  double duration_s = 0;
  double wait_s = 10;
  int interval_ms = 50;
  const char* log = nullptr;
  double gaps_ms = -1;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: wm_ping (--title TEXT | --pid N) [--duration SECONDS] [--wait SECONDS]\n"
               "               [--interval MS] [--log FILE] [--gaps MS]\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) Usage();
    const char* value = argv[++i];
    if (flag == "--title") {
      options.title = value;
    } else if (flag == "--pid") {
      options.pid = std::strtol(value, nullptr, 10);
    } else if (flag == "--duration") {
      options.duration_s = std::strtod(value, nullptr);
    } else if (flag == "--wait") {
      options.wait_s = std::strtod(value, nullptr);
    } else if (flag == "--interval") {
      options.interval_ms = std::max(1, std::atoi(value));
    } else if (flag == "--log") {
      options.log = value;
    } else if (flag == "--gaps") {
      options.gaps_ms = std::strtod(value, nullptr);
    } else {
      Usage();
    }
  }
  if (options.title.empty() == (options.pid < 0)) Usage();
  return options;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Atoms {
  xcb_atom_t wm_protocols, net_wm_ping, net_wm_name, utf8_string, net_wm_pid;
};

xcb_atom_t Intern(xcb_connection_t* c, const char* name) {
  const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The property's value, or nothing when the window has none of that type.
std::optional<std::string> Property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t name,
                                    xcb_atom_t type) {
  const auto cookie = xcb_get_property(c, 0, w, name, type, 0, 1 << 16);
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(c, cookie, nullptr), &std::free);
  if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
  const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
  return std::string(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) *
                               (reply->format / 8));
}

bool Viewable(xcb_connection_t* c, xcb_window_t w) {
  std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr), &std::free);
  return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool TakesPing(xcb_connection_t* c, const Atoms& atoms, xcb_window_t w) {
  const auto protocols = Property(c, w, atoms.wm_protocols, XCB_ATOM_ATOM);
  if (!protocols) return false;
  for (std::size_t i = 0; i + 4 <= protocols->size(); i += 4) {
    xcb_atom_t atom;
    std::memcpy(&atom, protocols->data() + i, 4);
    if (atom == atoms.net_wm_ping) return true;
  }
  return false;
}

bool Matches(xcb_connection_t* c, const Atoms& atoms, const Options& options, xcb_window_t w) {
  if (!options.title.empty()) {
    auto name = Property(c, w, atoms.net_wm_name, atoms.utf8_string);
    if (!name) name = Property(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    if (!name || *name != options.title) return false;
  } else {
    const auto pid = Property(c, w, atoms.net_wm_pid, XCB_ATOM_CARDINAL);
    uint32_t value = 0;
    if (!pid || pid->size() < 4) return false;
    std::memcpy(&value, pid->data(), 4);
    if (static_cast<long>(value) != options.pid) return false;
  }
  return TakesPing(c, atoms, w) && Viewable(c, w);
}

// Client windows are children of the root, or of a window manager's frame
// one or two levels down.
xcb_window_t Find(xcb_connection_t* c, const Atoms& atoms, const Options& options,
                  xcb_window_t parent, int depth) {
  std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
      xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr), &std::free);
  if (!tree) return XCB_WINDOW_NONE;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const int count = xcb_query_tree_children_length(tree.get());
  for (int i = 0; i < count; ++i) {
    if (Matches(c, atoms, options, children[i])) return children[i];
  }
  if (depth == 0) return XCB_WINDOW_NONE;
  for (int i = 0; i < count; ++i) {
    if (const xcb_window_t found = Find(c, atoms, options, children[i], depth - 1)) return found;
  }
  return XCB_WINDOW_NONE;
}

struct Ping {
  Clock::time_point sent;
  std::optional<Clock::duration> latency;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p / 100 * static_cast<double>(values.size() - 1));
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  std::signal(SIGINT, [](int) { stop_requested = 1; });
  std::signal(SIGTERM, [](int) { stop_requested = 1; });

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "wm_ping: cannot open the display\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const Atoms atoms{Intern(c, "WM_PROTOCOLS"), Intern(c, "_NET_WM_PING"), Intern(c, "_NET_WM_NAME"),
                    Intern(c, "UTF8_STRING"), Intern(c, "_NET_WM_PID")};

  const auto looking_since = Clock::now();
  xcb_window_t window = XCB_WINDOW_NONE;
  while (!(window = Find(c, atoms, options, root, 2))) {
    if (stop_requested || Ms(Clock::now() - looking_since) > options.wait_s * 1000) {
      std::fprintf(stderr, "wm_ping: no such window\n");
      return 1;
    }
    poll(nullptr, 0, 50);
  }

  const uint32_t root_events = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &root_events);
  const uint32_t window_events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &window_events);
  xcb_flush(c);

  std::vector<Ping> pings;
  const auto start = Clock::now();
  const auto interval = std::chrono::milliseconds(options.interval_ms);
  auto next_ping = start;
  std::vector<Clock::time_point> answers;
  bool window_gone = false;
  pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};

  while (!stop_requested && !window_gone) {
    const auto now = Clock::now();
    if (options.duration_s > 0 && Ms(now - start) >= options.duration_s * 1000) break;
    if (now >= next_ping) {
      xcb_client_message_event_t event{};
      event.response_type = XCB_CLIENT_MESSAGE;
      event.format = 32;
      event.window = window;
      event.type = atoms.wm_protocols;
      event.data.data32[0] = atoms.net_wm_ping;
      event.data.data32[1] = static_cast<uint32_t>(pings.size() + 1);  // the ping's number
      event.data.data32[2] = window;
      xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
      xcb_flush(c);
      pings.push_back({now, std::nullopt});
      next_ping += interval;
      if (next_ping < now) next_ping = now + interval;  // after a stop: no burst
    }
    const int timeout = static_cast<int>(std::max<double>(0, Ms(next_ping - Clock::now())) + 1);
    poll(&fd, 1, timeout);
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
      const auto arrived = Clock::now();
      const int type = event->response_type & 0x7f;
      if (type == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        const uint32_t number = message->data.data32[1];
        if (message->window == root && message->data.data32[0] == atoms.net_wm_ping &&
            message->data.data32[2] == window && number >= 1 && number <= pings.size() &&
            !pings[number - 1].latency) {
          pings[number - 1].latency = arrived - pings[number - 1].sent;
          answers.push_back(arrived);
        }
      } else if ((type == XCB_DESTROY_NOTIFY &&
                  reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == window) ||
                 (type == XCB_UNMAP_NOTIFY &&
                  reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window == window) ||
                 type == 0) {  // an error: the window is no more
        window_gone = true;
      }
      std::free(event);
    }
    if (xcb_connection_has_error(c)) break;
  }
  const auto end = Clock::now();
  xcb_disconnect(c);

  double longest_gap = 0;
  auto from = start;
  std::vector<std::pair<double, double>> gaps;  // start offset, length
  answers.push_back(end);
  for (const auto at : answers) {
    const double gap = Ms(at - from);
    longest_gap = std::max(longest_gap, gap);
    if (options.gaps_ms >= 0 && gap > options.gaps_ms) gaps.emplace_back(Ms(from - start), gap);
    from = at;
  }

  std::vector<double> latencies;
  FILE* log = options.log ? std::fopen(options.log, "w") : nullptr;
  for (const Ping& ping : pings) {
    if (ping.latency) latencies.push_back(Ms(*ping.latency));
    if (log) {
      if (ping.latency) {
        std::fprintf(log, "%.1f %.2f\n", Ms(ping.sent - start), Ms(*ping.latency));
      } else {
        std::fprintf(log, "%.1f -\n", Ms(ping.sent - start));
      }
    }
  }
  if (log) std::fclose(log);

  for (const auto& [at, length] : gaps) {
    std::printf("gap_ms %.1f at_ms %.1f\n", length, at);
  }
  std::printf(
      "pings %zu answered %zu longest_gap_ms %.1f p50_ms %.1f p90_ms %.1f p99_ms %.1f "
      "max_ms %.1f duration_ms %.1f%s\n",
      pings.size(), latencies.size(), longest_gap, Percentile(latencies, 50),
      Percentile(latencies, 90), Percentile(latencies, 99),
      latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()),
      Ms(end - start), window_gone ? " window_gone" : "");
  return 0;
}
