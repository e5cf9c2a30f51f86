#pragma once

#include <string>

#include "capture/job.h"

// jobs.csv in a port's capture folder: one line per finished job, added
// only once the capture file is final, so a script watching the folder can
// take a line as the sign that its job is complete.
constexpr const char* kJobIndexName = "jobs.csv";
constexpr const char* kJobIndexHeader =
    "start,end,port,peer address,peer port,bytes,file,outcome,queries answered,queue,job name,"
    "source file,user,host\r\n";

// One line of the index, fields quoted as RFC 4180 does, ending in CR LF.
std::string JobIndexLine(const TJob& record);

// Adds the record's line to jobs.csv in its folder. Each line goes out in
// one write on a file opened for appending, so lines of two sessions or two
// programs never interleave. A missing index is made whole, header and this
// line together, under a temporary name and then linked into place, so no
// reader, and no other copy of the program, ever finds it empty or without
// its header. A link in the index's place is refused ("File access
// denied"), and so is anything else that is not a regular file ("Not a
// regular file"); a FIFO never holds the program up. Raises EInOutError.
void AppendToJobIndex(const TJob& record);
