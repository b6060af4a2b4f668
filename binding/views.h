// The classes of the module and the new objects that its functions and the
// Writer's methods return. A view owns a copy of the core value it shows, so
// it stays valid after the Writer that made it is gone, and may be read from
// any thread. Each type is created on its first use, at import.
#pragma once

#include "py.h"  // first: Python.h comes before the standard headers

#include <vector>

#include "log/log_writer.h"
#include "queries/queries.h"
#include "receipt/receipt.h"
#include "receipt/report.h"
#include "record/record.h"

namespace quintrel::py {

// What a Receipt object holds: the receipt as read and the query index over
// its records and stored rules, built by its first query (a receipt never
// changes).
struct ReceiptValue {
  receipt::Receipt receipt;
  queries::Cache index;
};

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

// The seven query methods of Writer and of Receipt, in the classes' order.
std::vector<PyMethodDef> writer_queries();
std::vector<PyMethodDef> receipt_queries();

}  // namespace quintrel::py
