// Export into a FoxPro table through our own table engine: fields of the
// types FoxPro holds, filled from the values (numbers as numbers, dates as
// dates), not from their text, so another program reads the same values.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/export/export_value.h"

namespace norvale {

class TDbfTable;
class TField;

class TDbfExportWriter : public TExportWriter {
 public:
  // `codePage`: the source table's, named in the new table's header.
  TDbfExportWriter(const std::string& path, const TExportSettings& settings, int codePage);
  ~TDbfExportWriter() override;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;
  std::vector<std::string> CompanionExtensions() const override;

 private:
  std::string path_;
  int codePage_;
  bool hasMemo_ = false;
  std::unique_ptr<TDbfTable> table_;
  std::vector<TField*> fields_;
  std::vector<TExportColumn> columns_;
  int64_t unstorable_ = 0;
  int64_t cutText_ = 0;
};

// The FoxPro field name for `name`: letters, digits and "_", at most ten,
// not a name in `taken` (compared without case).
std::string FoxProFieldName(const std::string& name, const std::vector<std::string>& taken);

}  // namespace norvale
