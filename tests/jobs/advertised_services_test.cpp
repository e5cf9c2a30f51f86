#include "jobs/advertised_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "support/temp_folder.h"

namespace {

// Ports 9100..9102 listen on IPv4 alone, 9200 on IPv6 (dual stack), the
// rest not at all.
TListeningFamilies Listening(uint16_t port) {
  if (port >= 9100 && port <= 9102) return {true, false};
  return {false, port == 9200};
}

// A service shown as "port|name|type|protocol|txt;txt;".
std::string Shown(const TServiceAdvert& service) {
  std::string shown = std::to_string(service.Number) + "|" + service.Name + "|" + service.Type +
                      "|" + std::to_string(static_cast<int>(service.Protocol)) + "|";
  for (const std::string& item : service.Txt) shown += item + ";";
  return shown;
}

class AdvertisedServicesTest : public TempFolderTest {};

TEST_F(AdvertisedServicesTest, WhatEachPortPublishes) {
  const std::string longName(64, 'n');
  const std::string longNote = std::string(249, 'c') + "\xC3\xA9";
  struct TCase {
    const char* port;
    TIniEntries section;
    std::string comment;
    std::string expected;  // Shown(), or the refusal
  };
  const std::string base = "txtvers=1;ty=Tarnock;product=(Tarnock);";
  const TCase cases[] = {
      {"9100",
       {{"Advertise", "1"}},
       "",
       "9100|Tarnock on till port 9100|_pdl-datastream._tcp|0|" + base},
      {"9101",
       {{"Advertise", "1"}, {"ServiceName", " Front desk "}, {"Replies", "ZPL"}},
       "Labels",
       "9101|Front desk|_pdl-datastream._tcp|0|" + base +
           "note=Labels;pdl=application/vnd.zebra-zpl;"},
      {"9102",
       {{"Advertise", "1"}, {"Replies", "pjl"}, {"Protocol", "LPD"}},
       "",
       "9102|Tarnock on till port 9102|_printer._tcp|0|" + base +
           "pdl=application/vnd.hp-PCL;rp=tarnock;"},
      {"9200",
       {{"Advertise", "1"}, {"Replies", "escpos"}, {"Protocol", "raw"}},
       "",
       "9200|Tarnock on till port 9200|_pdl-datastream._tcp|-1|" + base +
           "pdl=application/vnd.escpos;"},
      // A note cut to the 255 bytes of a TXT string, never inside a character.
      {"9100",
       {{"Advertise", "1"}, {"Replies", "none"}},
       longNote,
       "9100|Tarnock on till port 9100|_pdl-datastream._tcp|0|" + base +
           "note=" + std::string(249, 'c') + ";"},
      {"9100", {{"Advertise", "0"}, {"ServiceName", "x"}}, "", ""},
      {"9100", {{"ServiceName", "x"}}, "", ""},
      {"9300", {{"Advertise", "1"}}, "", "Port 9300 not advertised: it is not listening"},
      {"9100",
       {{"Advertise", "1"}, {"Protocol", "ipp"}},
       "",
       "Port 9100 not advertised: Protocol=ipp is no protocol (raw, lpd)"},
      {"9100",
       {{"Advertise", "1"}, {"ServiceName", longName}},
       "",
       "Port 9100 not advertised: ServiceName is longer than 63 bytes"},
  };
  for (const TCase& c : cases) {
    TIniFile file(root_ + "/" + c.port + std::to_string(&c - cases) + ".ini");
    file.WriteText("Ports", c.port, "/tmp,x.txt,F,0," + c.comment);
    file.WriteTexts(std::string("Port ") + c.port, c.section);
    const TAdvertPlan plan = PlanAdvertisements(file.Load(), "till", Listening);
    std::string shown;
    for (const TServiceAdvert& service : plan.Services) shown += Shown(service);
    for (const std::string& refusal : plan.Refusals) shown += refusal;
    EXPECT_EQ(shown, c.expected) << c.port << " " << (&c - cases);
  }
}

// The default name keeps its port number whatever the host's name; the
// next free name counts on from the one taken.
TEST_F(AdvertisedServicesTest, NamesWithinALabel) {
  TIniFile file(root_ + "/tarnock.ini");
  file.WriteText("Ports", "9100", "/tmp,x.txt,F,0,");
  file.WriteText("Port 9100", "Advertise", "1");
  const TAdvertPlan plan = PlanAdvertisements(file.Load(), std::string(70, 'h'), Listening);
  ASSERT_EQ(plan.Services.size(), 1U);
  EXPECT_EQ(plan.Services[0].Name, "Tarnock on " + std::string(42, 'h') + " port 9100");

  const std::string full(63, 'n');
  const std::string accented = std::string(59, 'n') + "\xC3\xA9";  // 61 bytes
  const std::pair<std::string, std::string> cases[] = {
      {"Till", "Till #2"},
      {"Till #2", "Till #3"},
      {"Till #9", "Till #10"},
      {"Till #0", "Till #0 #2"},
      {"Till#2", "Till#2 #2"},
      {"Till #2x", "Till #2x #2"},
      {full, std::string(60, 'n') + " #2"},
      {std::string(59, 'n') + " #99", std::string(58, 'n') + " #100"},
      {accented, std::string(59, 'n') + " #2"},
  };
  for (const auto& [name, next] : cases) EXPECT_EQ(AlternativeServiceName(name), next) << name;
}

}  // namespace
