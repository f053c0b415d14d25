// The instrument's settings: typed values made canonical or refused, the frames a change needs,
// and what the replies give back.
#include <gtest/gtest.h>

#include <string>

#include "protocol/hart_codes.h"
#include "protocol/hart_commands.h"
#include "protocol/hart_settings.h"

namespace {

const HartSettingSpec &Spec(const char *name) { return *FindHartSetting(name); }

std::string Canonical(const char *name, const char *typed) {
  const HartValueCheck c = CheckHartValue(Spec(name), typed);
  return c.value ? *c.value : "refused: " + c.problem;
}

// What an instrument answering every read with these values gives back.
HartValues Held() {
  HartValues values;
  std::string problem;
  HartTagDescriptorDate tdd{"FT-101", "FLOW", {2026, 12, 9}};
  EXPECT_TRUE(TakeHartReply(hart::kReadTagDescriptorDate, TagDescriptorDateRequest(tdd).data, &values, &problem));
  EXPECT_TRUE(TakeHartReply(hart::kWriteRangeValues, RangeValuesRequest(12, 100, 0).data, &values, &problem));
  EXPECT_TRUE(TakeHartReply(hart::kWriteDampingValue, DampingRequest(0.5).data, &values, &problem)) << problem;
  return values;
}

}  // namespace

TEST(HartSettings, TypedValuesAreMadeCanonicalOrRefusedWithTheFieldNamed) {
  EXPECT_EQ(Canonical("tag", "ft-101"), "FT-101");
  EXPECT_EQ(CheckHartValue(Spec("tag"), "ft-101").note, "tag: lower case is written as upper case");
  EXPECT_EQ(Canonical("tag", "TOO-LONG1"), "refused: tag: 9 characters, 8 at most");
  EXPECT_NE(Canonical("descriptor", "caf\xC3\xA9").find("refused: descriptor: character 4"), std::string::npos);
  EXPECT_EQ(Canonical("message", "CHECKED  "), "CHECKED") << "the padding is not kept";
  EXPECT_EQ(Canonical("date", "2026-02-29").rfind("refused: date: ", 0), 0u);
  EXPECT_EQ(Canonical("date", "2024-02-29"), "2024-02-29");
  EXPECT_EQ(Canonical("final_assembly", "16777216").rfind("refused", 0), 0u);
  EXPECT_EQ(Canonical("final_assembly", "0x10").rfind("refused", 0), 0u);
  EXPECT_EQ(Canonical("lower_range", "-2,5"), "-2.5") << "a decimal comma is taken";
  EXPECT_EQ(Canonical("upper_range", "0.1"), "0.1");
  EXPECT_EQ(Canonical("upper_range", "1e39").rfind("refused", 0), 0u);
  // Seven digits would give "1e+28", which reads back as a float shown as 9.999999e+27.
  EXPECT_EQ(Canonical("upper_range", "10000002000000000000000000000"), "1.00000018e+28");
  EXPECT_EQ(Canonical("upper_range", "1.00000018e+28"), "1.00000018e+28");
  EXPECT_EQ(Canonical("damping", "-1").rfind("refused: damping: ", 0), 0u);
  EXPECT_EQ(Canonical("damping", "nan").rfind("refused", 0), 0u);
  EXPECT_EQ(Canonical("pv_units", "kpa"), "KPa") << "the unit list's name";
  EXPECT_EQ(Canonical("pv_units", "39"), "mA");
  EXPECT_EQ(Canonical("pv_units", "unit 250"), "unit 250") << "what the tool prints is taken back";
  EXPECT_EQ(Canonical("response_preambles", "21").rfind("refused", 0), 0u);
  EXPECT_EQ(Canonical("polling_address", "63"), "63");
  EXPECT_EQ(Canonical("long_tag", "Durchfluss Stra\xC3\x9F" "e 4"), "Durchfluss Stra\xC3\x9F" "e 4");
}

TEST(HartSettings, OnlyTheFramesOfDifferingValuesGoAndCommand18KeepsWhatIsHeld) {
  const HartValues held = Held();
  HartWritePlan plan = PlanHartWrites(held, {{"descriptor", "PUMP 2"}, {"damping", "0.5"}, {"long_tag", "X"}}, 5);
  ASSERT_EQ(plan.writes.size(), 1u);
  EXPECT_EQ(plan.writes[0].command, hart::kWriteTagDescriptorDate);
  EXPECT_EQ(plan.writes[0].data, TagDescriptorDateRequest({"FT-101", "PUMP 2", {2026, 12, 9}}).data);
  EXPECT_EQ(plan.equal, std::vector<HartSettingId>{HartSettingId::Damping});
  ASSERT_EQ(plan.problems.size(), 1u);
  EXPECT_NE(plan.problems[0].find("revision 6 or later"), std::string::npos) << plan.problems[0];

  // Units before the range, which then carries the new unit.
  plan = PlanHartWrites(held, {{"upper_range", "250"}, {"pv_units", "bar"}}, 7);
  ASSERT_EQ(plan.writes.size(), 2u);
  EXPECT_EQ(plan.writes[0].command, hart::kWritePrimaryVariableUnits);
  const uint8_t bar = *ParseUnit("bar");
  EXPECT_EQ(plan.writes[1].data, RangeValuesRequest(bar, 250, 0).data);

  // Nothing held to fill command 18 with: nothing sent.
  plan = PlanHartWrites({}, {{"tag", "A"}}, 5);
  EXPECT_TRUE(plan.writes.empty());
  EXPECT_FALSE(plan.problems.empty());
  plan = PlanHartWrites(held, {{"pv_units", "furlongs"}}, 5);
  EXPECT_TRUE(plan.writes.empty()) << "no unit code is made up";
  EXPECT_FALSE(plan.problems.empty());
}

TEST(HartSettings, EveryWriteEchoGivesBackTheValueItCarried) {
  const HartValues wanted = {{"tag", "T1"},         {"descriptor", "D"},        {"date", "2000-01-31"},
                             {"message", "M 1"},    {"final_assembly", "42"},   {"long_tag", "long tag"},
                             {"pv_units", "KPa"}  ,  {"lower_range", "-40"},     {"upper_range", "120.5"},
                             {"damping", "2"},      {"polling_address", "5"},   {"response_preambles", "8"}};
  HartValues held = Held();
  held["message"] = "";
  held["final_assembly"] = "0";
  held["long_tag"] = "";
  held["polling_address"] = "0";
  held["response_preambles"] = "5";
  const HartWritePlan plan = PlanHartWrites(held, wanted, 7);
  EXPECT_TRUE(plan.problems.empty()) << plan.problems.front();
  HartValues echoed;
  std::string problem;
  for (const HartWrite &w : plan.writes) EXPECT_TRUE(TakeHartReply(w.command, w.data, &echoed, &problem)) << problem;
  for (const auto &[name, value] : wanted) EXPECT_EQ(echoed[name], value) << name;
}
