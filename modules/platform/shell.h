// Target-shell commands. On the host, lines come from the process's standard
// input and from the Unix socket "shell.sock" in the device folder; each line
// runs once its newline has arrived (a socket client's line cut off by the end
// of its connection does not run; standard input runs its last line) and
// is split into argc/argv (double or single quotes group words) and the named
// command is called. A socket client gets back what the command printed to
// stdout, followed by the line "value = <result> = 0x<result>". At most 8
// socket clients are served at once, their lines in turn (with every place
// taken, the one idle longest makes room for a new client); one that does
// not read its answers is dropped rather than hold up the others, and a
// command that waits for the disk holds only its own client.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

using ShellFunc = int (*)(int argc, char** argv);

// Longest command line; a longer one, like one holding a NUL byte, is refused
// whole and nothing of it runs.
constexpr size_t kShellMaxLine = 1024;

// Registers (or replaces) a command; non-zero on success, 0 on failure.
int msd_shellAddCommand(const char* name, ShellFunc fn);

// The names of the registered commands, in order.
std::vector<std::string> shell_commandNames();
// The command "help": each registered command, with the arguments and the
// effect of the device's own.
int shell_help(int argc, char** argv);

// Splits a line into words; false (with *error set) on an unclosed quote.
bool shell_splitLine(const char* line, std::vector<std::string>* words, std::string* error);

// Parses a whole argument as a decimal integer in [lo, hi]; false for
// anything else (no number, trailing characters, out of range).
bool shell_parseLong(const char* text, long lo, long hi, long* out);

// Runs one line: the command's result, 0 for an empty line, -1 for an
// unknown command or a bad line (an error line is printed).
int shell_runLine(const char* line);
// The same, capturing what the command writes to stdout into *output.
// offTurn (when given) is called whenever the command begins a wait off the
// shell's turn (shell_waitOffTurn), from the thread that runs it.
int shell_runLineCapture(const char* line, std::string* output, const std::function<void()>& offTurn = {});

// Called by a command that a shell line runs, around a wait that may be long
// (for the disk): wait() runs without holding the shell, so that other
// lines run meanwhile (the command's own client waits for its answer), and
// the command goes on, its output captured as before, once wait() returned.
// Anywhere else it only calls wait(). Returns what wait() returned.
bool shell_waitOffTurn(const std::function<bool()>& wait);

// Starts the bridge tasks: the socket reader always, the standard-input
// reader when readStdin is true. 1 on success (or already running), 0 when
// nothing could be started. The socket is open at once, so that clients may
// connect, but no line runs before shell_acceptLines: the commands a line may
// name are registered, and what they act on started, after the bridge.
int shell_start(bool readStdin = true);
// From now on the bridge runs the lines that arrive, those that waited
// first, in their order.
void shell_acceptLines();
// Ends the bridge tasks and closes and removes the socket; also before
// shell_acceptLines (the lines that waited are not run).
void shell_stop();
bool shell_running();
// Host path of the socket.
std::string shell_socketPath();
