// The reports as poppler reads them back: every row's values where they
// belong, the frame on every page, the page count the report claims, and
// the layout measured from the words' positions on the page.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

#include <QDir>
#include <QGuiApplication>
#include <QPrinter>

#include "app/export/pdf_writer.h"
#include "app/report/list_report.h"
#include "app/report/record_report.h"

using namespace norvale;

namespace {

struct TWord {
  std::string text;
  double xMin, yMin, xMax, yMax;
};

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::string Text(const std::string& pdf) { return Shell("pdftotext -layout '" + pdf + "' - 2>/dev/null"); }
std::string Info(const std::string& pdf) { return Shell("pdfinfo '" + pdf + "' 2>/dev/null"); }
int PdfPages(const std::string& pdf) {
  std::smatch m;
  const std::string info = Info(pdf);
  return std::regex_search(info, m, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(m[1]) : -1;
}
// The words of one page with their boxes, in points from the top left.
std::vector<TWord> Words(const std::string& pdf, int page) {
  const std::string html = Shell("pdftotext -bbox -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" +
                                 pdf + "' - 2>/dev/null");
  const std::regex word(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
  std::vector<TWord> words;
  for (std::sregex_iterator it(html.begin(), html.end(), word), end; it != end; ++it)
    words.push_back({(*it)[5], std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])});
  return words;
}
const TWord* Find(const std::vector<TWord>& words, const std::string& text) {
  for (const auto& w : words)
    if (w.text == text) return &w;
  return nullptr;
}
std::vector<std::string> Tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}
size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v pdftotext pdfinfo").empty())
      GTEST_SKIP() << "poppler-utils (pdftotext, pdfinfo) not installed";
    char name[] = "/tmp/norvale_report_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    if (!dir_.empty()) QDir(QString::fromStdString(dir_)).removeRecursively();
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

const bool kHasCjkFont = !Shell("fc-list :charset=6f22 2>/dev/null").empty();

std::vector<TExportColumn> ListColumns() {
  return {{"ID", TExportKind::Integer, 'N', 6, 0, 50},      {"NAME", TExportKind::Text, 'C', 30, 0, 0},
          {"AMOUNT", TExportKind::Number, 'N', 14, 2, 110}, {"BORN", TExportKind::Date, 'D', 8, 0, 0},
          {"OK", TExportKind::Logical, 'L', 1, 0, 0},       {"NOTES", TExportKind::Memo, 'M', 10, 0, 160}};
}
std::string Format(const char* format, int a, int b = 0, int c = 0) {
  char s[64];
  std::snprintf(s, sizeof s, format, a, b, c);
  return s;
}
std::string Name(int i) { return Format("Name-%04d", i); }
// Row `i`'s values, and the tokens poppler should read on its line: the
// number grouped, the date day first, the memo's first line marked as cut.
std::vector<std::string> Expected(int i, TExportRow* row) {
  const char* sign = i % 3 == 0 ? "-" : "";
  std::string name = Name(i);
  if (i % 50 == 7) name += kHasCjkFont ? " Café Ωmega 漢字" : " Café Ωmega";
  TExportRow values(6);
  values[0].text = std::to_string(i), values[0].number = values[0].integer = i;
  values[1].text = name;
  values[2].text = sign + Format("%d%06d.25", i, 3 * i);
  values[3].year = 1950 + i % 60, values[3].month = 1 + i % 12, values[3].day = 1 + i % 28;
  values[4].logical = i % 2;
  values[5].text = "first line " + std::to_string(i) + "\r\nsecond line";
  if (row) *row = values;
  std::vector<std::string> tokens = Tokens(std::to_string(i) + " " + name);
  for (const std::string& t :
       {sign + Format("%d,000,%03d.25", i, 3 * i), Format("%02d/%02d/%04d", 1 + i % 28, 1 + i % 12, 1950 + i % 60),
        std::string(i % 2 ? "True" : "False"), std::string("first"), std::string("line"), std::to_string(i) + "…"})
    tokens.push_back(t);
  return tokens;
}

constexpr int kRows = 300;

void WriteList(TExportWriter& writer) {
  writer.Begin(ListColumns());
  TExportRow row;
  for (int i = 1; i <= kRows; ++i) {
    Expected(i, &row);
    writer.Row(row);
  }
  writer.Finish();
}

// Every row once, whole and in its own line; the frame on every page.
void CheckListText(const std::string& pdf, int pages, const std::string& title) {
  ASSERT_GT(pages, 1);
  EXPECT_EQ(PdfPages(pdf), pages);
  const std::string text = Text(pdf);
  std::map<std::string, std::vector<std::string>> lines;
  std::istringstream in(text);
  int headers = 0;
  for (std::string line; std::getline(in, line);) {
    const auto tokens = Tokens(line);
    if (tokens == std::vector<std::string>{"ID", "NAME", "AMOUNT", "BORN", "OK", "NOTES"}) ++headers;
    if (tokens.size() > 1 && tokens[1].rfind("Name-", 0) == 0) {
      EXPECT_TRUE(lines.emplace(tokens[1], tokens).second) << line;
    }
  }
  EXPECT_EQ(headers, pages);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kRows));
  for (int i = 1; i <= kRows; ++i) EXPECT_EQ(lines[Name(i)], Expected(i, nullptr)) << "row " << i;
  EXPECT_EQ(Count(text, "second line"), 0u);
  EXPECT_EQ(Count(text, title), static_cast<size_t>(pages));
  EXPECT_EQ(Count(text, "Page 2\n"), 1u);
  EXPECT_EQ(Count(text, "Page " + std::to_string(pages) + "\n"), 1u);
  EXPECT_EQ(Count(text, "Page " + std::to_string(pages + 1)), 0u);
}

TEST_F(ReportTest, ListReportOnAPdfPrinterHasEveryRowOnItsPages) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(File("printed.pdf")));
  TListReport report(printer, {QStringLiteral("Customers of Norvale"), QStringLiteral("09/12/2026 14:03")});
  WriteList(report);
  CheckListText(File("printed.pdf"), report.Pages(), "Customers of Norvale");
  EXPECT_NE(Text(File("printed.pdf")).find("09/12/2026 14:03"), std::string::npos);
}

// Through the writer the layout is known: A4 upright, 15 mm margins.
TEST_F(ReportTest, PdfWriterLaysOutAnA4Report) {
  TExportSettings settings;
  settings.title = "Customers";
  TPdfWriter writer(File("export.pdf"), settings);
  WriteList(writer);
  CheckListText(File("export.pdf"), writer.Pages(), "Customers");
  const std::string info = Info(File("export.pdf"));
  EXPECT_NE(info.find("Title:           Customers\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Creator:         Norvale\n"), std::string::npos) << info;
  EXPECT_NE(info.find("595 x 842 pts (A4)"), std::string::npos) << info;

  const double margin = 15 / 25.4 * 72, width = 595.276, height = 841.89;
  const auto words = Words(File("export.pdf"), 2);
  ASSERT_FALSE(words.empty());
  std::vector<double> amountRights, nameLefts;
  for (const auto& w : words) {
    EXPECT_GE(w.xMin, margin - 1) << w.text;
    EXPECT_LE(w.xMax, width - margin + 1) << w.text;
    EXPECT_GE(w.yMin, margin - 1) << w.text;
    EXPECT_LE(w.yMax, height - margin + 1) << w.text;
    if (w.text.find(",") != std::string::npos && std::isdigit(static_cast<unsigned char>(w.text.back())))
      amountRights.push_back(w.xMax);
    if (w.text.rfind("Name-", 0) == 0) nameLefts.push_back(w.xMin);
  }
  ASSERT_GT(amountRights.size(), 20u);
  ASSERT_EQ(amountRights.size(), nameLefts.size());
  for (double x : amountRights) EXPECT_NEAR(x, amountRights.front(), 0.6);  // numbers right-aligned
  for (double x : nameLefts) EXPECT_NEAR(x, nameLefts.front(), 0.3);        // text left-aligned
  const TWord* title = Find(words, "Customers");
  const TWord* page = Find(words, "Page");
  const TWord* number = Find(words, "2");
  ASSERT_TRUE(title && page && number);
  EXPECT_NEAR(title->xMin, margin, 2);
  EXPECT_NEAR((page->xMin + number->xMax) / 2, width / 2, 1);
  EXPECT_GT(page->yMin, height - margin - 20);
}

// Columns wider than even a sideways page are narrowed together: all of
// them stay on the page, the long values cut with "…".
TEST_F(ReportTest, WideColumnsTurnThePageAndAllFitOnIt) {
  std::vector<TExportColumn> columns;
  TExportRow row;
  for (int i = 0; i < 12; ++i) {
    columns.push_back({"COL" + std::to_string(i), TExportKind::Text, 'C', 60, 0, 150});
    row.emplace_back().text = "Value" + std::to_string(i) + "-abcdefghijklmnopqrstuvwxyz-end";
  }
  TPdfWriter writer(File("wide.pdf"), {});
  writer.Begin(columns);
  writer.Row(row);
  writer.Finish();
  EXPECT_NE(Info(File("wide.pdf")).find("842 x 595 pts (A4)"), std::string::npos);
  const auto words = Words(File("wide.pdf"), 1);
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(Find(words, "COL" + std::to_string(i))) << i;
  size_t cut = 0;
  for (const auto& w : words) {
    EXPECT_LE(w.xMax, 841.89 - 15 / 25.4 * 72 + 1) << w.text;
    EXPECT_EQ(w.text.find("-end"), std::string::npos);
    cut += w.text.rfind("Value", 0) == 0 && w.text.find("…") != std::string::npos;
  }
  EXPECT_EQ(cut, 12u);
}

TEST(FitWidths, ScalesTogetherKeepingAMinimum) {
  EXPECT_EQ(TListReport::FitWidths({100, 200}, 400, 20), (std::vector<double>{100, 200}));
  EXPECT_EQ(TListReport::FitWidths({100, 300}, 200, 20), (std::vector<double>{50, 150}));
  // 10 would scale to 5: it keeps 20 and the others share the rest.
  const auto widths = TListReport::FitWidths({10, 190, 200}, 200, 20);
  EXPECT_EQ(widths[0], 20);
  EXPECT_NEAR(widths[1] + widths[2], 180, 1e-9);
  EXPECT_NEAR(widths[1] / widths[2], 190.0 / 200, 1e-9);
  EXPECT_EQ(TListReport::FitWidths({50, 50, 50}, 30, 20), (std::vector<double>{10, 10, 10}));
}

TEST_F(ReportTest, RecordReportPrintsEachFieldUnderItsName) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(File("records.pdf")));
  TRecordReport report(printer, {QStringLiteral("Parts"), QStringLiteral("01/02/2026 08:30")});
  const std::vector<TExportColumn> columns = {{"CODE", TExportKind::Text, 'C', 10},
                                              {"PRICE", TExportKind::Number, 'N', 10, 2},
                                              {"MADE", TExportKind::Date, 'D', 8},
                                              {"REMARKS", TExportKind::Memo, 'M', 10}};
  report.Begin(columns);
  std::string longMemo;
  for (int i = 1; i <= 120; ++i) longMemo += "Remark" + std::to_string(i) + " keeps going across the page width. ";
  for (int i = 1; i <= 3; ++i) {
    TExportRow row(4);
    row[0].text = "Þórr-" + std::to_string(i);
    row[1].text = std::to_string(1000 * i) + "234.50";
    row[2].year = 2020 + i, row[2].month = 3, row[2].day = 14;
    row[3].text = i == 2 ? longMemo + "\n\nLast paragraph." : "Short remark";
    report.Row(row);
  }
  report.Finish();
  ASSERT_GT(report.Pages(), 1);
  EXPECT_EQ(PdfPages(File("records.pdf")), report.Pages());
  const std::string text = Text(File("records.pdf"));
  for (const char* v : {"Þórr-1", "Þórr-3", "1,000,234.50", "3,000,234.50", "14/03/2023", "Short remark",
                        "Last paragraph.", "REMARKS (continued)"})
    EXPECT_NE(text.find(v), std::string::npos) << v;
  std::map<std::string, int> remarks;
  for (const auto& token : Tokens(text)) ++remarks[token];
  for (int i = 1; i <= 120; ++i) EXPECT_EQ(remarks["Remark" + std::to_string(i)], 1) << i;

  const auto words = Words(File("records.pdf"), 1);
  const TWord* code = Find(words, "CODE");
  const TWord* value = Find(words, "Þórr-1");
  const TWord* price = Find(words, "PRICE");
  const TWord* made = Find(words, "MADE");
  ASSERT_TRUE(code && value && price && made);
  EXPECT_NEAR(value->yMin - code->yMin, 20, 1.5);  // the value 20 points under its label
  EXPECT_NEAR(price->yMin - code->yMin, 50, 0.5);  // a field every 50 points
  EXPECT_NEAR(made->yMin - price->yMin, 50, 0.5);
  EXPECT_NEAR(value->xMin, code->xMin, 0.5);
}

std::string ErrorOf(TExportWriter& writer) {
  try {
    writer.Begin(ListColumns());
  } catch (const EExportError& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(ReportTest, UnwritablePlacesAreReported) {
  QPrinter printer;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(File("missing/printed.pdf")));
  TListReport report(printer, {});
  const std::string error = ErrorOf(report);
  EXPECT_EQ(error.rfind("Cannot print: ", 0), 0u) << error;
  TPdfWriter writer(File("missing/export.pdf"), {});
  EXPECT_NE(ErrorOf(writer).find(File("missing/export.pdf")), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
