#include "preview_samples.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

// Enough noise for benchmark inputs, made at memory speed.
class TNoise {
 public:
  explicit TNoise(uint64_t seed) : state_(seed | 1) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  uint64_t Below(uint64_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

std::string Describe(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// The end as the index writes it, local time of a zone one hour east.
std::string IndexTime(int64_t milliseconds) {
  const time_t seconds = static_cast<time_t>(milliseconds / 1000 + 3600);
  tm fields{};
  gmtime_r(&seconds, &fields);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d+01:00",
                fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                fields.tm_min, fields.tm_sec, static_cast<int>(milliseconds % 1000));
  return text;
}

std::string FileNameAt(int64_t milliseconds, std::size_t job) {
  const time_t seconds = static_cast<time_t>(milliseconds / 1000 + 3600);
  tm fields{};
  gmtime_r(&seconds, &fields);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d-%zu.txt", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                job);
  return text;
}

std::string Outcome(TNoise& noise) {
  const uint64_t draw = noise.Below(100);
  if (draw < 85) return "closed";
  if (draw < 93) return "reset";
  if (draw < 96) return "deleted empty";
  if (draw < 98) return "cut";
  return "error: No space left on device";
}

// From 16 bytes to 16 MiB, most of them tens of kilobytes.
int64_t JobBytes(TNoise& noise) {
  return static_cast<int64_t>((16ull << noise.Below(21)) + noise.Below(4096));
}

void SetField(TJobIndexFields& line, TIndexColumn column, std::string text) {
  line.Fields[static_cast<std::size_t>(column)] = std::move(text);
}

void AddLpdLabels(TJobIndexFields& line, TNoise& noise) {
  static const std::array<const char*, 3> queues{"lp", "labels", "office"};
  static const std::array<const char*, 5> users{"alice", "bob", "chen", "dana", "emil"};
  static const std::array<const char*, 4> documents{"invoice", "report", "label", "statement"};
  const std::string document = std::string(documents[noise.Below(documents.size())]) + "-" +
                               std::to_string(noise.Below(100000)) + ".pdf";
  SetField(line, TIndexColumn::Queue, queues[noise.Below(queues.size())]);
  SetField(line, TIndexColumn::JobName, document);
  SetField(line, TIndexColumn::SourceFile, document);
  SetField(line, TIndexColumn::User, users[noise.Below(users.size())]);
  SetField(line, TIndexColumn::Host, "ws-" + std::to_string(1 + noise.Below(40)));
}

}  // namespace

bool WriteNoiseFile(const std::string& path, uint64_t size, std::string& failure) {
  const int handle = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (handle < 0) {
    failure = Describe("cannot make", path);
    return false;
  }
  constexpr std::size_t kPiece = 1 << 20;
  auto piece = std::make_unique<uint64_t[]>(kPiece / sizeof(uint64_t));
  TNoise noise(0x9e3779b97f4a7c15ull);
  for (uint64_t written = 0; written < size;) {
    for (std::size_t i = 0; i < kPiece / sizeof(uint64_t); ++i) piece[i] = noise.Next();
    const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kPiece, size - written));
    const ssize_t wrote = write(handle, piece.get(), count);
    if (wrote <= 0) {
      failure = Describe("cannot write", path);
      close(handle);
      unlink(path.c_str());
      return false;
    }
    written += static_cast<uint64_t>(wrote);
  }
  if (fsync(handle) != 0 || close(handle) != 0) {
    failure = Describe("cannot write", path);
    return false;
  }
  return true;
}

bool MakeSparseFile(const std::string& path, uint64_t size, std::string& failure) {
  const int handle = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (handle < 0 || ftruncate(handle, static_cast<off_t>(size)) != 0) {
    failure = Describe("cannot make", path);
    if (handle >= 0) close(handle);
    return false;
  }
  close(handle);
  return true;
}

std::vector<TJobIndexFields> MakeJobLines(std::size_t count) {
  static const std::array<const char*, 4> ports{"9100", "9101", "9102", "515"};
  TNoise noise(20261208);
  std::vector<TJobIndexFields> lines(count);
  // 2026-11-01T00:00:00Z, then a job every few seconds.
  int64_t end = 1793491200000;
  for (std::size_t job = 0; job < count; ++job) {
    end += static_cast<int64_t>(500 + noise.Below(20000));
    TJobIndexFields& line = lines[job];
    const std::string port = ports[noise.Below(ports.size())];
    const bool testNet = noise.Below(2) == 0;
    const std::string peer =
        (testNet ? "192.0.2." : "198.51.100.") + std::to_string(1 + noise.Below(254));
    SetField(line, TIndexColumn::Start, IndexTime(end - static_cast<int64_t>(noise.Below(5000))));
    SetField(line, TIndexColumn::End, IndexTime(end));
    SetField(line, TIndexColumn::Port, port);
    SetField(line, TIndexColumn::PeerAddress, peer);
    SetField(line, TIndexColumn::PeerPort, std::to_string(32768 + noise.Below(28232)));
    SetField(line, TIndexColumn::Bytes, std::to_string(JobBytes(noise)));
    SetField(line, TIndexColumn::File, FileNameAt(end, job));
    SetField(line, TIndexColumn::Outcome, Outcome(noise));
    SetField(line, TIndexColumn::QueriesAnswered, std::to_string(noise.Below(4)));
    if (port == "515") AddLpdLabels(line, noise);
  }
  return lines;
}

std::string CaptureFolderOf(const TJobIndexFields& line) {
  return "/home/ana/captures/" + line[TIndexColumn::Port];
}

std::string IndexCsvLine(const TJobIndexFields& line) {
  std::string text;
  for (std::size_t column = 0; column < kJobIndexColumns; ++column) {
    if (column > 0) text += ',';
    text += line.Fields[column];
  }
  return text + "\r\n";
}

namespace {

constexpr const char* kProlog =
    "%!PS-Adobe-3.0\n"
    "%%Creator: tarnock_preview_bench\n"
    "%%Pages: PAGES\n"
    "%%DocumentNeededResources: font Helvetica Helvetica-Bold Times-Roman\n"
    "%%EndComments\n"
    "%%BeginProlog\n"
    "/L { lineto } bind def /M { moveto } bind def /S { stroke } bind def\n"
    "/T { moveto show } bind def\n"
    "%%EndProlog\n";

constexpr std::array<const char*, 8> kWords{"capture", "printer", "label", "receipt",
                                            "queue",   "invoice", "port",  "job"};

std::string BodyLine(TNoise& noise) {
  std::string line;
  while (line.size() < 46) {
    if (!line.empty()) line += ' ';
    line += kWords[noise.Below(kWords.size())];
  }
  return line;
}

void AppendText(std::string& page, TNoise& noise, int number) {
  page += "/Helvetica-Bold findfont 18 scalefont setfont\n";
  page += "(Quarterly capture report, page " + std::to_string(number) + ") 56 740 T\n";
  page += "/Times-Roman findfont 10 scalefont setfont\n";
  for (int column = 0; column < 2; ++column)
    for (int row = 0; row < 34; ++row)
      page.append(1, '(')
          .append(BodyLine(noise))
          .append(") ")
          .append(std::to_string(56 + column * 256))
          .append(" ")
          .append(std::to_string(712 - row * 12))
          .append(" T\n");
}

void AppendChart(std::string& page, TNoise& noise) {
  page += "0.5 setlinewidth 0 0 0.6 setrgbcolor\n56 120 M\n";
  for (int x = 0; x <= 250; ++x)
    page += std::to_string(56 + 2 * x) + " " + std::to_string(120 + noise.Below(150)) + " L\n";
  page += "S\n";
  for (int bar = 0; bar < 24; ++bar) {
    page += std::to_string(0.2 + 0.03 * bar).substr(0, 4) + " 0.5 0.3 setrgbcolor ";
    page += std::to_string(56 + bar * 21) + " 40 16 " + std::to_string(10 + noise.Below(70)) +
            " rectfill\n";
  }
  page += "0.8 0.1 0.1 setrgbcolor 2 setlinewidth\n";
  for (int curve = 0; curve < 12; ++curve)
    page += std::to_string(300 + curve * 10) + " 300 M " + std::to_string(noise.Below(600)) +
            " 600 " + std::to_string(noise.Below(600)) + " 100 " +
            std::to_string(100 + curve * 30) + " 420 curveto S\n";
  page += "0 setgray\n";
}

}  // namespace

std::string MakePostScriptJob(int pages) {
  std::string job = kProlog;
  job.replace(job.find("PAGES"), 5, std::to_string(pages));
  TNoise noise(31);
  for (int number = 1; number <= pages; ++number) {
    job += "%%Page: " + std::to_string(number) + " " + std::to_string(number) + "\n";
    AppendText(job, noise, number);
    AppendChart(job, noise);
    job += "showpage\n";
  }
  return job + "%%Trailer\n%%EOF\n";
}
