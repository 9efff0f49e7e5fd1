// ListView1: the word list shown through a Qt model, one column "Wort".
//
// The model reads captions straight from WordList (no copies in widget
// items) and answers only for the rows a view asks about. Words appended one
// by one (as a crawl does) reach the views in groups, so that the views lay
// themselves out a few times a second rather than once per word. The view's
// selection is the entries' Marked flags. Between BeginBatch and EndBatch
// the view neither repaints nor hears of single changes; it is reset once
// at the end.
#pragma once

#include <QAbstractTableModel>
#include <QTreeView>

#include "WordList.h"

class TWordListModel : public QAbstractTableModel, public WordListObserver {
  Q_OBJECT
 public:
  explicit TWordListModel(WordList& words, QObject* parent = nullptr);
  ~TWordListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // An in-place edit: the caption goes back through SetWordAt.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // True while the rows the views know differ from the list (inside a
  // change or a batch): selection changes then say nothing about Marked.
  bool Changing() const { return changing_ || batched_; }
  WordList& Words() { return words_; }
  // Tells the views of the rows appended since they last heard; appends are
  // otherwise announced together, at most every kAppendDelayMs.
  void FlushAppends();
  static constexpr int kAppendDelayMs = 50;

 signals:
  void BatchStarted();
  void BatchFinished();

 private:
  void BeginAppend(size_t first, size_t last) override;
  void EndAppend() override;
  void BeginRemove(size_t first, size_t last) override;
  void EndRemove() override;
  void BeginReset() override;
  void EndReset() override;
  void RowChanged(size_t index) override;
  void BatchBegun() override;
  void BatchEnded() override;

  WordList& words_;
  bool changing_ = false;
  bool batched_ = false;
  int batchRows_ = 0;  // the row count the views know during a batch
  int shownRows_ = 0;  // the row count the views know otherwise
  bool flushScheduled_ = false;
};

class TWordListView : public QTreeView {
  Q_OBJECT
 public:
  TWordListView(WordList& words, QWidget* parent);
  TWordListModel* WordModel() const { return model_; }

 private:
  void MarkSelection(const QItemSelection& selected, const QItemSelection& deselected);
  void SelectMarkedRows();

  TWordListModel* model_;
  bool selecting_ = false;
};
