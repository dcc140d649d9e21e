// The models behind the folder tree and the result list: batched announcements that stay
// consistent for a view.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <thread>

#include "ui/adapters/folder_tree_model.h"
#include "ui/adapters/result_list_model.h"
#include "workflow/main_thread_queue.h"
#include "workflow/updating_thread.h"

namespace kestrine::test {
namespace {

TEST(FolderTreeModel, AnnouncesDeepAndWideTreesInBatches) {
  ui::TFolderTreeModel model;
  QAbstractItemModelTester tester(&model);
  QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
  // 100 top-level folders, each with a chain of 19 below.
  std::vector<TTreePort::TNode> tops;
  for (int i = 0; i < 100; ++i) {
    TTreePort::TNode node = model.AddNode(nullptr, "top" + std::to_string(i), nullptr);
    tops.push_back(node);
    for (int depth = 0; depth < 19; ++depth) node = model.AddNode(node, "sub", nullptr);
  }
  EXPECT_EQ(model.rowCount(), 0);  // nothing reaches the view before the batch
  model.Flush();
  EXPECT_EQ(model.rowCount(), 100);
  EXPECT_EQ(inserts.count(), 1 + 100 * 19);  // one insertion per parent, not per folder
  QModelIndex deepest = model.index(99, 0);
  for (int depth = 0; depth < 19; ++depth) deepest = model.index(0, 0, deepest);
  ASSERT_TRUE(deepest.isValid());
  EXPECT_EQ(deepest.data().toString(), QStringLiteral("sub"));

  // Nodes added under shown parents after a batch join in the next one.
  model.AddNode(tops[5], "late", nullptr);
  model.AddNode(nullptr, "last", nullptr);
  model.Flush();
  EXPECT_EQ(model.rowCount(), 101);
  EXPECT_EQ(model.rowCount(model.index(5, 0)), 2);
  model.Clear();
  EXPECT_EQ(model.rowCount(), 0);
}

TEST(ResultListModel, CountsFromAWorkerBecomeOneInsertionPerBatch) {
  TMainThreadQueue queue;
  TUpdatingThread updating(queue);
  ui::TResultListModel model(updating, {});
  QAbstractItemModelTester tester(&model);
  QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
  std::thread worker([&] {
    for (int i = 1; i <= 100000; ++i) model.SetRowCount(i);
  });
  worker.join();
  EXPECT_EQ(model.rowCount(), 0);  // the view's count is only what was announced
  model.Flush();
  EXPECT_EQ(model.rowCount(), 100000);
  EXPECT_EQ(inserts.count(), 1);
  // A smaller count (a new filter) rebuilds rather than inserts.
  model.SetRowCount(10);
  model.Flush();
  EXPECT_EQ(model.rowCount(), 10);
  EXPECT_EQ(inserts.count(), 1);
  // Rows past the query's results read as empty, never as a crash.
  EXPECT_EQ(model.ItemAt(3), nullptr);
  EXPECT_EQ(model.columnCount(), 6);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("FileName"));
}

}  // namespace
}  // namespace kestrine::test
