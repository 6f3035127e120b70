// ConsoleOutput: the program's one text stream, the process's standard
// output, with a 128-byte buffer inside the stream.
//
// Every writer emits a line as pieces, then the line end, then one check:
//
//   write_text("value: ");
//   write_text(result);
//   write_line_end();   // CR LF; sent at once when the handle is a console
//   check_io();         // raises EInOutError if any write of the line failed
//
// The stream opens itself on the first write and binds to the standard
// output handle of that moment. A console gets each line at its line end; a
// file or pipe gets writes of exactly 128 bytes as the buffer fills, and the
// rest at flush_output or close_output. Bytes go out unchanged (zero bytes
// and bytes above 127 included); nothing is allocated per write.
//
// No operation but check_io raises. A failed open stores 105 in
// the pending I/O result and drops the bytes of that call; a failed write
// stores the platform's error code and drops the buffered bytes (inside
// write_text, also the rest of the text). The last failure's number wins;
// check_io reads and clears it, and the program's end sequence may take it
// aside around a write-out whose failure it ignores (take/restore below).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void write_text(std::string_view text);
void write_char(char byte);
// Appends CR LF, then sends the buffer when the handle is a character device.
void write_line_end();
// Writes out what the buffer holds (nothing when the stream is closed).
void flush_output();
// The stream's end step: writes out what the buffer holds. A failure is
// stored but never raised; the standard output handle stays open.
void close_output();
// Raises EInOutError(number, in_out_error_message(number)) and clears the
// pending number when one is pending. The failure's location is the return
// address of this call, i.e. the check in the writer's code.
void check_io();

// EInOutError's message for an I/O error number:
//   2 "File not found", 3 "Invalid filename", 4 "Too many open files",
//   5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
//   106 "Invalid numeric input", any other "I/O error <number>"
//   (in_out_error_message(105) == "I/O error 105").
std::string in_out_error_message(int32_t number);
// The words of the numbers that have their own, or nullptr for the
// "I/O error <number>" form; allocates nothing, so a fault report can use it.
const char* in_out_error_words(int32_t number);

// The pending I/O result (0 when none), cleared by the call:
//   int32_t saved = take_pending_io_result();
//   flush_output();                        // a failure here is not wanted
//   restore_pending_io_result(saved);      // the earlier result stands again
int32_t take_pending_io_result();
// Sets the pending I/O result to `number` (0: none pending).
void restore_pending_io_result(int32_t number);
