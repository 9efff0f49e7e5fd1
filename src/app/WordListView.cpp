#include "WordListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTimer>
#include <climits>

#include "Cp1252.h"

namespace {
int ToRow(size_t index) { return index > INT_MAX ? INT_MAX : static_cast<int>(index); }
}  // namespace

TWordListModel::TWordListModel(WordList& words, QObject* parent)
    : QAbstractTableModel(parent), words_(words), shownRows_(ToRow(words.WordCount())) {
  words_.SetObserver(this);
}

TWordListModel::~TWordListModel() { words_.SetObserver(nullptr); }

int TWordListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return batched_ ? batchRows_ : shownRows_;
}

int TWordListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant TWordListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  auto row = static_cast<size_t>(index.row());
  if (!index.isValid() || index.row() < 0 || row >= words_.WordCount()) return {};
  return FromCp1252(words_.WordAt(row));
}

QVariant TWordListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
    return QStringLiteral("Wort");
  return {};
}

Qt::ItemFlags TWordListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemNeverHasChildren;
}

bool TWordListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  auto row = static_cast<size_t>(index.row());
  if (role != Qt::EditRole || !index.isValid() || index.row() < 0 || row >= words_.WordCount())
    return false;
  words_.SetWordAt(row, ToCp1252(value.toString()));
  return true;
}

// Appended rows change nothing the views know, so they can wait.
void TWordListModel::BeginAppend(size_t, size_t) {}

void TWordListModel::EndAppend() {
  if (batched_ || flushScheduled_) return;
  flushScheduled_ = true;
  QTimer::singleShot(kAppendDelayMs, this, [this] { FlushAppends(); });
}

void TWordListModel::FlushAppends() {
  flushScheduled_ = false;
  int rows = ToRow(words_.WordCount());
  if (batched_ || changing_ || rows <= shownRows_) return;
  beginInsertRows(QModelIndex(), shownRows_, rows - 1);
  shownRows_ = rows;
  endInsertRows();
}

void TWordListModel::BeginRemove(size_t first, size_t last) {
  if (batched_) return;
  FlushAppends();
  changing_ = true;
  beginRemoveRows(QModelIndex(), ToRow(first), ToRow(last));
}

void TWordListModel::EndRemove() {
  if (batched_) return;
  shownRows_ = ToRow(words_.WordCount());
  endRemoveRows();
  changing_ = false;
}

void TWordListModel::BeginReset() {
  if (batched_) return;
  FlushAppends();
  changing_ = true;
  beginResetModel();
}

// The views' reset handlers may read the list: it is consistent again.
void TWordListModel::EndReset() {
  if (batched_) return;
  changing_ = false;
  shownRows_ = ToRow(words_.WordCount());
  endResetModel();
}

void TWordListModel::RowChanged(size_t index) {
  if (batched_) return;
  FlushAppends();
  QModelIndex changed = this->index(ToRow(index), 0);
  emit dataChanged(changed, changed);
}

void TWordListModel::BatchBegun() {
  FlushAppends();
  batchRows_ = shownRows_;
  batched_ = true;
  emit BatchStarted();
}

// The views learn the batch's outcome in one reset.
void TWordListModel::BatchEnded() {
  changing_ = true;
  beginResetModel();
  batched_ = false;
  changing_ = false;
  shownRows_ = ToRow(words_.WordCount());
  endResetModel();
  emit BatchFinished();
}

// ---------------------------------------------------------------------------

TWordListView::TWordListView(WordList& words, QWidget* parent)
    : QTreeView(parent), model_(new TWordListModel(words, this)) {
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);  // lets the view ask only for the visible rows
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(QHeaderView::Interactive);
  setColumnWidth(0, 500);

  // Marked rows stay visibly marked when the list loses the focus.
  QPalette colours = palette();
  colours.setColor(QPalette::Inactive, QPalette::Highlight,
                   colours.color(QPalette::Active, QPalette::Highlight));
  colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   colours.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(colours);

  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TWordListView::MarkSelection);
  connect(model_, &QAbstractItemModel::modelReset, this, &TWordListView::SelectMarkedRows);
  connect(model_, &TWordListModel::BatchStarted, this, [this] { setUpdatesEnabled(false); });
  connect(model_, &TWordListModel::BatchFinished, this, [this] { setUpdatesEnabled(true); });
}

void TWordListView::MarkSelection(const QItemSelection& selected,
                                  const QItemSelection& deselected) {
  if (selecting_ || model_->Changing()) return;
  WordList& words = model_->Words();
  auto mark = [&](const QItemSelection& ranges, bool marked) {
    for (const QItemSelectionRange& range : ranges) {
      for (int row = range.top(); row <= range.bottom(); ++row) {
        if (static_cast<size_t>(row) < words.WordCount())
          words.SetMarked(static_cast<size_t>(row), marked);
      }
    }
  };
  mark(deselected, false);
  mark(selected, true);
}

// After a reset the view has forgotten its selection; the Marked flags have not.
void TWordListView::SelectMarkedRows() {
  if (model_->Changing()) return;
  const WordList& words = model_->Words();
  QItemSelection marked;
  size_t count = std::min(words.WordCount(), static_cast<size_t>(INT_MAX));
  for (size_t row = 0; row < count;) {
    if (!words.IsMarked(row)) {
      ++row;
      continue;
    }
    size_t end = row;
    while (end + 1 < count && words.IsMarked(end + 1)) ++end;
    marked.select(model_->index(ToRow(row), 0), model_->index(ToRow(end), 0));
    row = end + 1;
  }
  selecting_ = true;
  selectionModel()->select(marked, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  selecting_ = false;
}
