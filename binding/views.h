// The classes of the module and the new objects that its functions and the
// Writer's methods return. A view owns a copy of the core value it shows, so
// it stays valid after the Writer that made it is gone, and may be read from
// any thread. Each type is created on its first use, at import.
#pragma once

#include "py.h"  // first: Python.h comes before the standard headers

#include <vector>

#include "log/writer.h"
#include "receipt/receipt.h"
#include "receipt/report.h"
#include "record/record.h"

namespace quintrel::py {

PyTypeObject* report_type();
PyTypeObject* receipt_type();
PyTypeObject* record_type();
PyTypeObject* writer_type();
PyTypeObject* commit_type();

Ref new_report(receipt::Report report);
Ref new_receipt(receipt::Receipt receipt);
Ref new_commit(const log::CommitOutcome& outcome);
// A list of new Record objects, one per record, in order.
Ref record_list(std::vector<record::Record> records);

}  // namespace quintrel::py
