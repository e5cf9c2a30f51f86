#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jobs/job_index_reader.h"

// The inputs of the preview benchmark, made by the benchmark itself so that
// every run measures the same bytes.

// size bytes of noise (no run of zeros for the file system to skip); the
// reason in failure when the disk cannot take them.
bool WriteNoiseFile(const std::string& path, uint64_t size, std::string& failure);

// A file of size bytes that holds no data blocks: it reads as zeros.
bool MakeSparseFile(const std::string& path, uint64_t size, std::string& failure);

// The job index lines of count finished jobs, oldest first: four ports (one
// of them LPD, with queue, job, file, user and host), peers from 192.0.2.0/24
// and 198.51.100.0/24, sizes from a few bytes to megabytes, and the outcomes
// mostly closed, some reset, empty, cut or failed.
std::vector<TJobIndexFields> MakeJobLines(std::size_t count);

// The folder each port's index lies in.
std::string CaptureFolderOf(const TJobIndexFields& line);

// The line as the index holds it: comma-separated, ending in CR LF (the
// texts made above need no quoting).
std::string IndexCsvLine(const TJobIndexFields& line);

// A PostScript job of the given pages, each with a title, two columns of
// body text, a chart of strokes and filled bars, and a few curves.
std::string MakePostScriptJob(int pages);
