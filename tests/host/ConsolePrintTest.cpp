// Console print: one pool buffer per call, the 320-character cut, and every failure of the
// allocation and the console.
#include <string>

#include "print/ConsolePrint.h"
#include "tests/host/HostTestSupport.h"

namespace {

class ConsolePrintTest : public HostPlatformTest {
protected:
  void SetUp() override {
    BootServices = &Platform.BootServices;
    SystemTable = &Platform.SystemTable;
  }

  UINT64 PrintText(const std::u16string &Format) {
    const ArgumentSlot None[1] = {0};
    return PrintToConsole(Format.c_str(), &Platform.Console, None);
  }
};

TEST_F(ConsolePrintTest, ReportLineReachesTheConsoleWithCrLf) {
  EXPECT_EQ(Print(u"RBarSizes %lu\n", UINT64{16128}), 17U);
  EXPECT_EQ(Platform.ConsoleText(), "RBarSizes 16128\r\n");
  ASSERT_EQ(Platform.Pool.size(), 1U);
  EXPECT_EQ(Platform.Pool.begin()->second.Size, 642U);
  EXPECT_EQ(Platform.Pool.begin()->second.Type, EfiBootServicesData);
  EXPECT_EQ(Platform.Calls(HostCall::FreePool), 1U);
}

TEST_F(ConsolePrintTest, EachCallHasItsOwnBuffer) {
  Print(u"BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u\n", 0U, 8U, 13U, 13U);
  Print(u"BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u\n", 5U, 1U, 2U, 2U);
  EXPECT_EQ(Platform.ConsoleText(), "BAR 0 RBAR CURRENT 8 RBAR MAX 13 RBAR NEW 13\r\n"
                                    "BAR 5 RBAR CURRENT 1 RBAR MAX 2 RBAR NEW 2\r\n");
  EXPECT_EQ(Platform.Calls(HostCall::AllocatePool), 2U);
  EXPECT_EQ(Platform.OutstandingPoolBuffers(), 0U);
}

TEST_F(ConsolePrintTest, TextIsCutAt320Characters) {
  struct Row {
    size_t Length;
    UINT64 Result;
  };
  for (const Row Case : {Row{319, 319}, Row{320, 320}, Row{321, 320}, Row{1000, 320}}) {
    SCOPED_TRACE(testing::Message() << Case.Length << " characters");
    Platform.ConsoleWrites.clear();
    std::u16string Format(Case.Length, u'x');
    Format[0] = u'\x263A';
    EXPECT_EQ(PrintText(Format), Case.Result);
    ASSERT_EQ(Platform.ConsoleWrites.size(), 1U);
    EXPECT_EQ(Platform.ConsoleWrites[0], Format.substr(0, Case.Result));
  }
}

// A line end cut after its CR at the buffer's end: the 320th character is the CR.
TEST_F(ConsolePrintTest, LineEndPairCutAtTheEnd) {
  std::u16string Format(319, u'y');
  Format += u"\n";
  EXPECT_EQ(PrintText(Format), 320U);
  EXPECT_EQ(Platform.ConsoleWrites.at(0), std::u16string(319, u'y') + u"\r");
}

TEST_F(ConsolePrintTest, NothingRenderedWritesNothing) {
  EXPECT_EQ(PrintText(u""), 0U);
  const ArgumentSlot None[1] = {0};
  EXPECT_EQ(PrintToConsole(nullptr, &Platform.Console, None), 0U);
  EXPECT_EQ(Platform.Calls(HostCall::OutputString), 0U);
  EXPECT_EQ(Platform.Calls(HostCall::FreePool), 2U);
}

TEST_F(ConsolePrintTest, NullConsoleStillRenders) {
  Platform.DetachConsole();
  EXPECT_EQ(Print(u"RBarSizes %lu\n", UINT64{1792}), 16U);
  EXPECT_EQ(Platform.Calls(HostCall::OutputString), 0U);
  EXPECT_EQ(Platform.Calls(HostCall::FreePool), 1U);
}

TEST_F(ConsolePrintTest, FirmwareFailures) {
  struct Row {
    const char *Name;
    HostCall Call;
    EFI_STATUS Status;
    UINT64 Result;
    uint64_t Writes;
    uint64_t Frees;
  };
  const Row Rows[] = {
      {"allocation error", HostCall::AllocatePool, EFI_OUT_OF_RESOURCES, 0, 0, 0},
      {"allocation warning", HostCall::AllocatePool, EFI_WARN_STALE_DATA, 3, 1, 1},
      {"console error", HostCall::OutputString, EFI_DEVICE_ERROR, 0, 1, 1},
      {"console warning", HostCall::OutputString, EFI_WARN_UNKNOWN_GLYPH, 3, 1, 1},
      {"free error ignored", HostCall::FreePool, EFI_INVALID_PARAMETER, 3, 1, 1},
  };
  for (const Row &Case : Rows) {
    SCOPED_TRACE(Case.Name);
    HostPlatform Local;
    BootServices = &Local.BootServices;
    Local.InjectFault(Case.Call, 0, Case.Status);
    const ArgumentSlot None[1] = {0};
    EXPECT_EQ(PrintToConsole(u"abc", &Local.Console, None), Case.Result);
    EXPECT_EQ(Local.Calls(HostCall::OutputString), Case.Writes);
    EXPECT_EQ(Local.Calls(HostCall::FreePool), Case.Frees);
    EXPECT_TRUE(Local.Check().empty());
    ActiveHostPlatform = &Platform;
    BootServices = &Platform.BootServices;
  }
}

} // namespace
