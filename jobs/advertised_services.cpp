#include "jobs/advertised_services.h"

#include <QString>
#include <QSysInfo>
#include <exception>
#include <optional>

#include "base/text.h"
#include "capture/ini_file.h"
#include "capture/job_settings.h"
#include "capture/port_definition.h"
#include "jobs/port_protocol.h"
#include "jobs/reply_language.h"
#include "net/resolvers.h"

namespace {

constexpr const char* kRawType = "_pdl-datastream._tcp";
constexpr const char* kLpdType = "_printer._tcp";

std::string NotAdvertised(const std::string& port, const std::string& why) {
  return "Port " + port + " not advertised: " + why;
}

bool IsContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// At most maxBytes of text, never cut inside a UTF-8 character.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && IsContinuationByte(text[end])) --end;
  return text.substr(0, end);
}

std::string TxtString(std::string_view key, std::string_view value) {
  const std::string front = std::string(key) + "=";
  return front + std::string(CutUtf8(value, kMaxTxtStringBytes - front.size()));
}

// The long host part gives way, so that the port number always shows.
std::string DefaultServiceName(std::string_view hostName, uint16_t number) {
  const std::string front = "Tarnock on ";
  const std::string back = " port " + std::to_string(number);
  const std::size_t room = kMaxServiceNameBytes - front.size() - back.size();
  return front + std::string(CutUtf8(hostName, room)) + back;
}

std::optional<uint16_t> PortNumber(const std::string& port) {
  try {
    return WSocketResolvePort(port, "tcp");
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<std::string> TxtRecord(const TIniSnapshot& settings, const TPortEntry& entry,
                                   TPortProtocol protocol) {
  // ty names the make and model, which a capture port has none of but ours.
  std::vector<std::string> txt = {"txtvers=1", "ty=Tarnock", "product=(Tarnock)"};
  if (!entry.Definition.Comments.empty())
    txt.push_back(TxtString("note", entry.Definition.Comments));
  const std::string pdl = PdlForReplies(TJobSettings::Read(settings, entry.Port).Replies);
  if (!pdl.empty()) txt.push_back(TxtString("pdl", pdl));
  if (protocol == TPortProtocol::Lpd) txt.push_back(TxtString("rp", kAdvertisedLpdQueue));
  return txt;
}

// The service of one port that asks to be advertised, or why it cannot be.
std::optional<TServiceAdvert> PlanPort(const TIniSnapshot& settings, const TPortEntry& entry,
                                       std::string_view hostName, const TListeningCheck& listening,
                                       std::vector<std::string>& refusals) {
  const std::string section = PortSectionName(entry.Port);
  const auto refuse = [&](const std::string& why) {
    refusals.push_back(NotAdvertised(entry.Port, why));
    return std::nullopt;
  };
  const std::string protocolText = settings.ReadText(section, "Protocol", "");
  const std::optional<TPortProtocol> protocol = ParsePortProtocol(protocolText);
  if (!protocol) return refuse(UnknownProtocolText(protocolText));
  const std::optional<uint16_t> number = PortNumber(entry.Port);
  const TListeningFamilies families = number ? listening(*number) : TListeningFamilies{};
  if (!families.IPv4 && !families.IPv6) return refuse("it is not listening");
  std::string name = TrimBlanks(settings.ReadText(section, "ServiceName", ""));
  if (name.size() > kMaxServiceNameBytes)
    return refuse("ServiceName is longer than " + std::to_string(kMaxServiceNameBytes) + " bytes");
  if (name.empty()) name = DefaultServiceName(hostName, *number);
  TServiceAdvert service;
  service.Port = entry.Port;
  service.Number = *number;
  service.Name = name;
  service.Type = *protocol == TPortProtocol::Lpd ? kLpdType : kRawType;
  service.Txt = TxtRecord(settings, entry, *protocol);
  // A listener on IPv6 takes IPv4 peers too (dual stack); one on IPv4 alone
  // must not be offered to IPv6 clients.
  service.Protocol = families.IPv6 ? TAdvertProtocol::Any : TAdvertProtocol::IPv4;
  return service;
}

}  // namespace

TAdvertPlan PlanAdvertisements(const TIniSnapshot& settings, std::string_view hostName,
                               const TListeningCheck& listening) {
  TAdvertPlan plan;
  for (const TPortEntry& entry : PortEntries(settings)) {
    if (!settings.ReadFlag(PortSectionName(entry.Port), "Advertise", false)) continue;
    if (auto service = PlanPort(settings, entry, hostName, listening, plan.Refusals))
      plan.Services.push_back(std::move(*service));
  }
  return plan;
}

std::string AlternativeServiceName(std::string_view name) {
  std::string_view front = name;
  int64_t next = 2;
  const std::size_t mark = name.rfind(" #");
  if (mark != std::string_view::npos) {
    const std::string_view digits = name.substr(mark + 2);
    const bool counted = !digits.empty() && digits.size() <= 9 && digits[0] != '0' &&
                         digits.find_first_not_of("0123456789") == std::string_view::npos;
    if (counted) {
      front = name.substr(0, mark);
      next = std::stoll(std::string(digits)) + 1;
    }
  }
  const std::string suffix = " #" + std::to_string(next);
  return std::string(CutUtf8(front, kMaxServiceNameBytes - suffix.size())) + suffix;
}

// The profiles answer the status queries of printers that take these: a
// receipt printer's command stream, a label printer's label language, and
// the page description language a job language wraps most often. Neither of
// the first two has a registered type, so they get vendor-tree names in the
// registered one's fashion.
std::string PdlForReplies(std::string_view replies) {
  const std::optional<TReplyLanguage> language = ParseReplyLanguage(replies);
  if (!language) return {};
  switch (*language) {
    case TReplyLanguage::EscPos:
      return "application/vnd.escpos";
    case TReplyLanguage::Zpl:
      return "application/vnd.zebra-zpl";
    case TReplyLanguage::Pjl:
      return "application/vnd.hp-PCL";
    case TReplyLanguage::None:
      break;
  }
  return {};
}

std::string ShortHostName() {
  const std::string host = QSysInfo::machineHostName().toStdString();
  const std::string shortName = host.substr(0, host.find('.'));
  return shortName.empty() ? "localhost" : shortName;
}
