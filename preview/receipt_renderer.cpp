#include "preview/receipt_renderer.h"

#include <algorithm>
#include <set>

#include "preview/code_pages.h"
#include "preview/receipt_commands.h"
#include "preview/receipt_layout.h"

namespace {

constexpr unsigned char kEsc = 0x1b, kGs = 0x1d, kFs = 0x1c, kDle = 0x10;
constexpr int kDefaultLineSpacing = 30;
constexpr int kMinPaperDots = 48, kMaxPaperDots = 4096;
constexpr int kMinPageDots = 64, kMaxPageDots = 65535;
constexpr int kMaxPages = 10000;

// Options within what a printer could have: the images are allocated from
// them.
TReceiptOptions Bounded(const TReceiptOptions& options) {
  return TReceiptOptions{std::clamp(options.paperDots, kMinPaperDots, kMaxPaperDots),
                         std::clamp(options.maxHeightDots, kMinPageDots, kMaxPageDots),
                         std::clamp(options.maxPages, 1, kMaxPages)};
}

class TEscPosInterpreter {
 public:
  TEscPosInterpreter(std::string_view input, const TReceiptOptions& options)
      : input_(input),
        options_(Bounded(options)),
        layout_(options_.paperDots, options_.maxHeightDots, options_.maxPages) {}

  TReceipt Run() {
    // A capture of gigabytes would draw gigabytes of paper: drawing stops
    // at the page limit, and so does reading.
    while (pos_ < input_.size() && !layout_.Full()) Step();
    std::vector<QImage> pages = layout_.TakePages();
    if (layout_.Overflowed() || pos_ < input_.size())
      Note("Receipt longer than " + std::to_string(options_.maxPages) +
           " pages: the rest is not drawn");
    return TReceipt{std::move(pages), std::move(notes_)};
  }

 private:
  void Step() {
    const unsigned char byte = Next();
    switch (byte) {
      case kEsc:
        return Command("ESC", SkippedEscCommands(), &TEscPosInterpreter::Escape);
      case kGs:
        return Command("GS", SkippedGsCommands(), &TEscPosInterpreter::GroupSeparator);
      case kFs:
        return Command("FS", SkippedFsCommands(), &TEscPosInterpreter::FileSeparator);
      case kDle:
        return Command("DLE", SkippedDleCommands(), nullptr);
      case '\n':
        return layout_.PrintLine(lineSpacing_);
      case '\t':
        return layout_.AddTab(style_);
      case '\f':
        return layout_.PrintLineWithoutFeed();
      default:
        // Other control bytes (CR among them) move nothing on a receipt.
        if (byte >= 0x20 && byte != 0x7f)
          layout_.AddCharacter(CodePageCharacter(codePage_, byte), style_);
    }
  }

  // A command: those with fixed parameters and nothing to draw are passed
  // over by the table, the rest by their handler; an unknown one loses its
  // command byte only, as its length is unknown.
  using THandler = bool (TEscPosInterpreter::*)(unsigned char);
  void Command(const char* prefix, std::span<const TSkippedCommand> skipped, THandler handler) {
    command_ = prefix;
    if (!Need(1)) return;
    const unsigned char command = Next();
    command_ = CommandName(prefix, command);
    const std::string& name = command_;
    for (const TSkippedCommand& entry : skipped) {
      if (entry.command != command) continue;
      if (entry.note) Note(name + " " + entry.note);
      Skip(entry.parameters);
      return;
    }
    if (handler && (this->*handler)(command)) return;
    Note(name + " command not understood, skipped");
  }

  bool Escape(unsigned char command) {
    switch (command) {
      case '@':
        return Reset(), true;
      case '!':
        return Parameter([this](int n) { SelectPrintMode(n); });
      case 'E':
      case 'G':
        return Parameter([this](int n) { style_.bold = (n & 1) != 0; });
      case '-':
        return Parameter([this](int n) { style_.underlineDots = UnderlineDots(n); });
      case 'M':
        return Parameter([this](int n) {
          style_.font = (n == 1 || n == '1') ? TReceiptFont::B : TReceiptFont::A;
        });
      case 'a':
        return Parameter([this](int n) { layout_.SetAlignment(Alignment(n)); });
      case ' ':
        return Parameter([this](int n) { style_.rightSpacing = n; });
      case 't':
        return Parameter([this](int n) { SelectCodePage(n); });
      case '2':
        return lineSpacing_ = kDefaultLineSpacing, true;
      case '3':
        return Parameter([this](int n) { lineSpacing_ = n; });
      case 'J':
        return Parameter([this](int n) { layout_.PrintLine(n); });
      case 'd':
        return Parameter([this](int n) { FeedLines(n); });
      case 'i':
      case 'm':
        return layout_.Cut(), true;
      case '*':
        return ColumnImage(), true;
      case 'D':
        return SkipThrough('\0'), true;
      case '&':
        return UserCharacters(), true;
      case '(':
        return SkipSized(2), true;
    }
    return false;
  }

  bool GroupSeparator(unsigned char command) {
    switch (command) {
      case '!':
        return Parameter([this](int n) {
          style_.widthScale = ((n >> 4) & 7) + 1;
          style_.heightScale = (n & 7) + 1;
        });
      case 'V':
        return Cut(), true;
      case 'v':
        return RasterImage();
      case 'k':
        return Barcode(), true;
      case '(':
        return ExtendedGroupCommand(), true;
      case '8':
        return LargeGraphics();
      case '*':
        return DownloadedImage(), true;
    }
    return false;
  }

  bool FileSeparator(unsigned char command) {
    switch (command) {
      case 'q':
        return StoredImages(), true;
      case '2':
        return Skip(2 + 72), true;
      case '(':
        return SkipSized(2), true;
    }
    return false;
  }

  void Reset() {
    style_ = {};
    lineSpacing_ = kDefaultLineSpacing;
    codePage_ = TCodePage::Pc437;
    layout_.SetAlignment(TAlignment::Left);
    layout_.ClearLine();
  }

  void SelectPrintMode(int n) {
    style_.font = (n & 0x01) ? TReceiptFont::B : TReceiptFont::A;
    style_.bold = (n & 0x08) != 0;
    style_.heightScale = (n & 0x10) ? 2 : 1;
    style_.widthScale = (n & 0x20) ? 2 : 1;
    style_.underlineDots = (n & 0x80) ? 1 : 0;
  }

  static int UnderlineDots(int n) {
    if (n == 1 || n == '1') return 1;
    if (n == 2 || n == '2') return 2;
    return 0;
  }

  static TAlignment Alignment(int n) {
    if (n == 1 || n == '1') return TAlignment::Center;
    if (n == 2 || n == '2') return TAlignment::Right;
    return TAlignment::Left;
  }

  void SelectCodePage(int n) {
    if (CodePageForSelector(n, codePage_)) return;
    codePage_ = TCodePage::Pc437;
    Note("ESC t " + std::to_string(n) + " code page not supported, drawn as PC437");
  }

  void FeedLines(int n) {
    if (n == 0) return layout_.PrintLineWithoutFeed();
    for (int line = 0; line < n; ++line) layout_.PrintLine(lineSpacing_);
  }

  void Cut() {
    if (!Need(1)) return;
    const unsigned char mode = Next();
    const bool feeds =
        mode == 65 || mode == 66 || mode == 97 || mode == 98 || mode == 103 || mode == 104;
    if (feeds) {
      if (!Need(1)) return;
      const int feed = Next();
      if (mode == 65 || mode == 66) layout_.PrintLine(feed);
    }
    layout_.Cut();
  }

  // ESC * m nL nH: columns of 8 or 24 dots, MSB at the top. The densities
  // below full resolution repeat each dot.
  void ColumnImage() {
    if (!Need(3)) return;
    const int mode = Next();
    const int columns = Word();
    const bool tall = mode == 32 || mode == 33;
    if (!tall && mode != 0 && mode != 1) {
      Note("ESC * mode " + std::to_string(mode) + " not understood, image skipped");
      return;
    }
    const int bytesPerColumn = tall ? 3 : 1;
    const int scaleX = (mode == 0 || mode == 32) ? 2 : 1;
    const int scaleY = tall ? 1 : 3;
    const std::size_t size = static_cast<std::size_t>(columns * bytesPerColumn);
    if (!Need(size)) return;
    const std::string_view data = input_.substr(pos_, size);
    pos_ += size;
    const int fitting = std::min(columns, layout_.PaperDots() / scaleX);
    if (fitting < columns) Note("ESC * image clipped to the paper width");
    TDotImage image(fitting);
    image.AddRows(bytesPerColumn * 8);
    for (int column = 0; column < fitting; ++column)
      for (int dot = 0; dot < bytesPerColumn * 8; ++dot) {
        const auto byte = static_cast<unsigned char>(
            data[static_cast<std::size_t>(column * bytesPerColumn + dot / 8)]);
        if (byte & (0x80u >> (dot % 8))) image.SetDot(column, dot);
      }
    layout_.AddColumnImage(std::move(image), scaleX, scaleY);
  }

  // GS v 0 m xL xH yL yH: rows of x bytes, MSB left. Only the part that fits
  // the paper's width and one page's height is drawn; the rest is passed over
  // without being held.
  bool RasterImage() {
    if (!Need(1)) return true;
    if (Next() != '0') return false;
    command_ = "GS v 0";
    if (!Need(5)) return true;
    const int mode = Next() & 0x03;
    const auto rowBytes = static_cast<std::size_t>(Word());
    const int rows = Word();
    const int scaleX = (mode & 1) ? 2 : 1;
    const int scaleY = (mode & 2) ? 2 : 1;
    const int width = static_cast<int>(rowBytes) * 8 * scaleX;
    const int height = rows * scaleY;
    const int drawnWidth = std::min(width, layout_.PaperDots());
    const int drawnHeight = std::min(height, options_.maxHeightDots);
    if (drawnWidth < width || drawnHeight < height)
      Note("GS v 0 image of " + Size(width, height) + " dots clipped to " +
           Size(drawnWidth, drawnHeight) + " dots");
    layout_.PrintLineWithoutFeed();
    const std::size_t drawnRowBytes =
        std::min(rowBytes, static_cast<std::size_t>((drawnWidth + 8 * scaleX - 1) / (8 * scaleX)));
    // An image without width prints nothing, and feeds no paper either.
    const int drawnRows = rowBytes == 0 ? 0 : (drawnHeight + scaleY - 1) / scaleY;
    for (int row = 0; row < rows; ++row) {
      if (!Need(rowBytes)) return true;
      if (row < drawnRows)
        layout_.AddRasterRow(input_.substr(pos_, drawnRowBytes), scaleX,
                             std::min(scaleY, drawnHeight - row * scaleY));
      pos_ += rowBytes;
    }
    return true;
  }

  void Barcode() {
    Note("GS k barcode not drawn");
    if (!Need(1)) return;
    const int system = Next();
    if (system <= 6) return SkipThrough('\0');
    if (!Need(1)) return;
    Skip(Next());
  }

  void ExtendedGroupCommand() {
    if (!Need(1)) return;
    const char function = input_[pos_];
    if (function == 'k') Note("GS ( k 2D code not drawn");
    if (function == 'L') Note("GS ( L graphics not drawn");
    SkipSized(2);
  }

  bool LargeGraphics() {
    if (!Need(1)) return true;
    if (Next() != 'L') return false;
    Note("GS 8 L graphics not drawn");
    SkipSized(4);
    return true;
  }

  void DownloadedImage() {
    Note("GS * downloaded image not drawn");
    if (!Need(2)) return;
    const std::size_t columns = Next();
    const std::size_t rows = Next();
    Skip(columns * rows * 8);
  }

  void StoredImages() {
    Note("FS q stored image definition skipped");
    if (!Need(1)) return;
    for (int image = Next(); image > 0; --image) {
      if (!Need(4)) return;
      const auto columns = static_cast<std::size_t>(Word());
      const auto rows = static_cast<std::size_t>(Word());
      if (!Skip(columns * rows * 8)) return;
    }
  }

  void UserCharacters() {
    Note("ESC & user-defined characters ignored");
    if (!Need(3)) return;
    const std::size_t height = Next();
    const int first = Next();
    const int last = Next();
    for (int character = first; character <= last; ++character) {
      if (!Need(1)) return;
      if (!Skip(height * Next())) return;
    }
  }

  // Commands whose parameter block starts with its own length, lowest byte
  // first, after a function byte.
  void SkipSized(int lengthBytes) {
    if (!Need(1 + static_cast<std::size_t>(lengthBytes))) return;
    ++pos_;
    std::size_t length = 0;
    for (int i = 0; i < lengthBytes; ++i) length |= std::size_t{Next()} << (8 * i);
    Skip(length);
  }

  void SkipThrough(char end) {
    const std::size_t found = input_.find(end, pos_);
    if (found == std::string_view::npos) {
      pos_ = input_.size();
      Note(command_ + " cut short by the end of the input");
      return;
    }
    pos_ = found + 1;
  }

  template <typename TApply>
  bool Parameter(TApply apply) {
    if (Need(1)) apply(Next());
    return true;
  }

  bool Skip(std::size_t count) {
    if (!Need(count)) return false;
    pos_ += count;
    return true;
  }

  // False, with a note, when the input ends before count more bytes; the
  // rest of the input is then passed over.
  bool Need(std::size_t count) {
    if (input_.size() - pos_ >= count) return true;
    pos_ = input_.size();
    Note(command_ + " cut short by the end of the input");
    return false;
  }

  unsigned char Next() { return static_cast<unsigned char>(input_[pos_++]); }
  int Word() {
    const int low = Next();
    return low | Next() << 8;
  }

  static std::string Size(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
  }

  void Note(const std::string& text) {
    if (noted_.insert(text).second) notes_.push_back(text);
  }

  std::string_view input_;
  std::size_t pos_ = 0;
  TReceiptOptions options_;
  TReceiptLayout layout_;
  TPrintStyle style_;
  int lineSpacing_ = kDefaultLineSpacing;
  TCodePage codePage_ = TCodePage::Pc437;
  std::string command_;  // the command being read, for notes
  std::vector<std::string> notes_;
  std::set<std::string> noted_;
};

}  // namespace

TReceipt RenderReceipt(std::string_view escpos, const TReceiptOptions& options) {
  return TEscPosInterpreter(escpos, options).Run();
}
