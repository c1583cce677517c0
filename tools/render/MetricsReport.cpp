// Metrics of the survey. Every value is read from the same facts the JSON document is made of
// (GatherSurveyFacts, ExplainBar), so the two forms cannot disagree. Families come one after
// the other, each with its # HELP and # TYPE lines and all its samples; a family without samples
// is left out. Every label value is made here from numbers and fixed words, so none needs
// escaping.
#include "tools/render/MetricsReport.h"

#include <array>
#include <functional>

#include "tools/survey/SurveyFacts.h"

namespace {

// Prefix of every metric name.
constexpr std::string_view METRIC_PREFIX = "rbar_survey_";
// Size indexes a mask can hold (bits 0 to 31).
constexpr uint32_t MASK_BITS = 32;

// Every verdict, each a series of its own: 1 for the BAR's verdict, 0 for the others.
constexpr std::array<VerdictKind, 7> VERDICT_KINDS = {
    VerdictKind::Fits,      VerdictKind::WindowTooSmall, VerdictKind::Window32Bit,
    VerdictKind::Bar32Bit,  VerdictKind::PlacedBelow4G,  VerdictKind::RootBus,
    VerdictKind::UnknownBar};

// One metric family: its name (without the prefix), help text and samples, each sample a label
// set "{...}" (or empty) and a value.
struct Family {
  std::string Name;
  std::string Help;
  std::string Samples;
};

void AddSample(Family &Metric, const std::string &Labels, uint64_t Value) {
  Metric.Samples +=
      std::string(METRIC_PREFIX) + Metric.Name + Labels + " " + std::to_string(Value) + "\n";
}

// A family of one sample without labels.
Family RunFamily(const char *Name, const char *Help, uint64_t Value) {
  Family Metric{Name, Help, {}};
  AddSample(Metric, "", Value);
  return Metric;
}

// address="DDDD:BB:DD.F",vendor_id="vvvv",device_id="dddd",bar="N": the labels of a BAR,
// without braces so that more can follow.
std::string BarLabels(const ReportedFunction &Function, uint32_t Bar) {
  const ConfigFunction &Config = Function.Function->Config;
  return "address=\"" + FormatFunctionAddress(Function.Key) + "\",vendor_id=\"" +
         FormatId(Config, PciId::Vendor) + "\",device_id=\"" + FormatId(Config, PciId::Device) +
         "\",bar=\"" + std::to_string(Bar) + "\"";
}

// The verdict series of an explained BAR.
void AddVerdicts(Family &Metric, const std::string &Labels, const BarExplanation &Explanation) {
  const Verdict &Judged = Explanation.Judged;
  const bool NamesBridge =
      Judged.Kind == VerdictKind::WindowTooSmall || Judged.Kind == VerdictKind::Window32Bit;
  for (const VerdictKind Kind : VERDICT_KINDS) {
    std::string Series = Labels + ",verdict=\"" + VerdictToken(Kind) + "\"";
    if (Kind == Judged.Kind && NamesBridge) {
      Series += ",bridge=\"" +
                FormatFunctionAddress(KeyOf(*Explanation.PathFunctions[Judged.Bridge])) + "\"";
    }
    AddSample(Metric, "{" + Series + "}", Kind == Judged.Kind ? 1 : 0);
  }
}

std::string RenderFamilies(const std::vector<Family> &Families) {
  std::string Text;
  for (const Family &Metric : Families) {
    if (Metric.Samples.empty()) {
      continue;
    }
    const std::string Name = std::string(METRIC_PREFIX) + Metric.Name;
    Text += "# HELP " + Name + " " + Metric.Help + "\n";
    Text += "# TYPE " + Name + " gauge\n";
    Text += Metric.Samples;
  }
  return Text;
}

} // namespace

std::string RenderMetricsReport(const ReportInputs &Inputs, int64_t RunTime) {
  const SurveyFacts &Survey = *Inputs.Survey;
  Family Current{"bar_current_size_bytes", "Current size of a Resizable BAR.", {}};
  Family Largest{"bar_largest_size_bytes", "Largest size a Resizable BAR supports.", {}};
  Family Proposed{"bar_proposed_size_bytes",
                  "Size the driver proposes for a Resizable BAR (none when it proposes none).",
                  {}};
  Family Supported{"bar_supported_size_bytes",
                   "Each size a Resizable BAR supports, one series per size index.",
                   {}};
  Family Verdicts{"bar_verdict",
                  "1 for the verdict on the proposed size (--explain), 0 for the others; "
                  "bridge names the bridge whose window stands in the way.",
                  {}};
  for (const ReportedFunction &Function : Survey.Functions) {
    for (const ReportedBar &Bar : Function.Bars) {
      // A sizes line whose BAR is unknown cannot be labelled; the JSON document shows it.
      if (!Bar.Bar) {
        continue;
      }
      const std::string Labels = BarLabels(Function, *Bar.Bar);
      if (Bar.Current) {
        AddSample(Current, "{" + Labels + "}", SizeIndexBytes(*Bar.Current));
      }
      AddSample(Largest, "{" + Labels + "}", SizeIndexBytes(Bar.Largest));
      for (uint32_t Index = 0; Index < MASK_BITS; ++Index) {
        if ((Bar.Mask & (1U << Index)) != 0) {
          AddSample(Supported, "{" + Labels + ",size_index=\"" + std::to_string(Index) + "\"}",
                    SizeIndexBytes(Index));
        }
      }
      if (!Bar.Proposal) {
        continue;
      }
      AddSample(Proposed, "{" + Labels + "}", SizeIndexBytes(Bar.Proposal->Proposed));
      if (Inputs.Explain != nullptr) {
        AddVerdicts(Verdicts, Labels,
                    ExplainBar(*Inputs.Explain, *Function.Function, *Bar.Proposal));
      }
    }
  }
  const std::vector<Family> Families = {
      Current,
      Largest,
      Proposed,
      Supported,
      Verdicts,
      RunFamily("root_bridges", "Root bridges the survey scanned (one per PCI domain).",
                Survey.RootBridges),
      RunFamily("functions_scanned", "PCI functions the survey scanned.", Survey.FunctionsScanned),
      RunFamily("functions_with_resizable_bar",
                "Scanned functions with a Resizable BAR capability.", Survey.FunctionsWithRebar),
      RunFamily("configuration_reads", "Configuration reads the survey made.",
                Survey.ConfigurationReads),
      RunFamily("functions_read_in_part",
                "Functions read only in part (not run as root, or a short dump); their "
                "Resizable BARs may be missing.",
                Inputs.Short.size()),
      RunFamily("run_timestamp_seconds", "Time of the survey, in seconds since 1970-01-01 UTC.",
                static_cast<uint64_t>(RunTime)),
  };
  return RenderFamilies(Families);
}
