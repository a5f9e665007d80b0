// The service program of the simulated machine and the service manager's side
// of a service's life: what happens when it starts, reports running, is told
// to stop, or its process ends.
//
// Its description, after the program marker of programs.hpp:
//
//   {"kind": "service",
//    "start_pending_ms": 200,  start pending this long, then running
//    "fail_start": {"win32": 1064} or {"service_specific": 7},
//                              stops at once with that exit code instead
//    "stop_ms": 100,           stop pending this long after the stop control
//    "ignore_stop": false,     accepts the control and keeps running
//    "account": "system",      who the process runs as: "system", "local_service",
//                              "user"; absent = the configured account
//    "creates": [".holvar-service-v3", "service-logs"]
//                              folders it makes under the install root (the
//                              image's grandparent) once running; absent = both
//    "v3": {...}               its protocol side, below; absent = a well-behaved
//                              service
//   }
//
// Once running, the service serves "\.\pipe\holvar-service-v3" (up to four
// clients at once) and answers one request frame per connection: a 4-byte
// little-endian length and compact JSON, {"protocol":3,"request_id":<the
// request's>,"token":{"service_instance":...,"generation":1,"intent_epoch":0},
// "result":{"type":...,"data":...}}. "capabilities" gets protocol 3, schema 2,
// every capability flag and build "3.0.0-sim"; "status" a Status whose token
// is the envelope's, lifecycle "ready"; the other operations an "error" reply
// ("not_ready"; "invalid_frame" for an unknown action or a malformed request,
// "unsupported_protocol" for a protocol other than 3). A request length of 0
// or beyond 8 MiB makes it close the connection without answering. Its
// instance is "sim-<pid>" unless scripted.
//
//   "v3": {
//     "pipe_after_ms": 3000,     the pipe opens this long after running (default 0)
//     "pipe_instances": 4,       clients connected at once (0 = always busy, 231)
//     "instance": "svc-a",       service_instance of its tokens
//     "served_by_other": true,   the pipe is served instead by another process
//                                started from the same image (as the same
//                                account), which answers like the service and
//                                keeps running when the service stops
//     "no_pipe": true,           never serves the pipe
//     "replies": [{...}, {...}]  how it treats the 1st, 2nd, ... request of its
//                                process (absent, {} or not an object = normal);
//                                a request counts once its first bytes arrive
//   }
//
// Keys of one entry of "replies" (unknown keys are ignored; a value of the
// wrong type for a number or a flag reads as absent; values that go into the
// reply are written exactly as given, whatever their JSON type):
//     "delay_ms": N              answer N ms after the request arrived
//     "never": true              never answer (the connection stays open)
//     "no_read": true            never read the request: writes fill the pipe's
//                                4096-byte buffer, then wait
//     "close_after_bytes": N     send only the first N bytes of the whole frame
//                                (prefix included), then close its end
//     "length": N                send this length prefix (u32; more is ignored),
//                                then the payload only if "send_payload": true
//                                (length 0 sends no payload)
//     "raw": "text"              the payload is exactly this text (the prefix is
//                                its length); the keys below then do not apply
//     "extra_keys": {"k": v}     keys added at the end of the envelope (a key it
//                                has already is overwritten in place)
//     "drop_keys": ["token"]     envelope keys left out
//     "as_array": true           the envelope as an array of its values in order
//                                (four, unless keys were added or dropped)
//     "request_id": 7            this id instead of the request's
//     "protocol": 2              this protocol in the envelope
//     "schema": 1, "flags": [...], "build_version": "..."
//                                the capabilities record's fields instead
//     "instance": "other"        service_instance of this reply's envelope token
//                                (and of the token of a status inside)
//     "status_token_instance": "x"
//                                only the token inside a status differs
//     "lifecycle": "failed"      the status record's lifecycle
//     "error": {"code": "busy", "message": "..."}
//                                answer an "error" reply carrying the code (a
//                                bare string is the code; the message is not
//                                part of the protocol's error reply and is
//                                not sent; anything else sends "internal")
//     "reply_type": "status"     answer this reply kind whatever was asked ("done"
//                                has no "data"; "apply", "nodes", "probe",
//                                "metrics" get minimal records; an unknown kind
//                                gets "data": null)
//     "restart_after": true      once the client has closed this connection
//                                (so that its request completes), the process
//                                ends and the service manager starts the
//                                service again at once: a new pid, start pending
//                                then running as configured, its pipe opening
//                                as configured, a new instance ("<instance>-r1",
//                                "-r2", ... when scripted, else "sim-<new pid>"),
//                                and the count of requests going on
// The protocol side is live state: a machine saved and loaded forgets the
// count of requests and any restart's instance.
#pragma once

#include <string>

#include "platform/sim/machine_state.hpp"
#include "platform/sim/programs.hpp"

namespace holvar::sim {

extern const ProgramKind service_program;

// The image a service's command line names: the quoted first token, or the
// whole line when it names an existing file, else its text up to the first space.
std::u16string service_image_of(const Machine::State& s, const std::u16string& binary_path);

// The token a service process runs with for a configured account.
Token service_token(const std::optional<std::u16string>& account);

// Brings every service up to date with its process: one whose process has
// ended is stopped (ERROR_PROCESS_ABORTED unless its program said otherwise),
// and one marked for delete goes once it is stopped and no handle is open.
void settle_services(Machine::State& s);

// Starts the service's image as its process (StartServiceW once its checks
// passed): 2 for a missing image; an image without the service program never
// reports and is ended after 30 seconds with 1053, as the SCM does.
platform::Status launch_service(Machine::State& s, Service& svc);

// What a restart does once the machine is up: every automatic service that is
// not marked for delete starts.
void start_automatic_services(Machine::State& s);

// The stop control reached the running service's process.
void service_stop_requested(Machine::State& s, Service& svc);

// The service database in the machine file (sim_services_json.cpp); loading
// throws on nonsense, as the rest of the machine file's reader does.
std::string services_to_json(const Machine::State& s);
void services_from_json(Machine::State& s, const std::string& text);

// Open SCM handles to the service held by live processes.
size_t open_service_handles(const Machine::State& s, const std::u16string& folded_name);

}  // namespace holvar::sim
