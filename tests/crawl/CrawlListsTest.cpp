#include "CrawlLists.h"

#include <gtest/gtest.h>

namespace {

TEST(StringPool, InternsEachTextOnceAndKeepsViewsStable) {
  TStringPool pool;
  std::vector<std::string_view> first;
  for (int i = 0; i < 20000; ++i)
    first.push_back(pool.At(pool.Intern("http://h.de/" + std::to_string(i))));
  std::string longText(100000, 'x');
  uint32_t longId = pool.Intern(longText);
  EXPECT_EQ(pool.Intern("http://h.de/5"), 5u);
  EXPECT_EQ(pool.Intern(""), pool.Intern(""));
  for (int i = 0; i < 20000; ++i) EXPECT_EQ(first[i], "http://h.de/" + std::to_string(i));
  EXPECT_EQ(pool.At(longId), longText);
  EXPECT_FALSE(pool.Find("http://h.de/x"));
}

TEST(CrawlLists, QueueKeepsDuplicatesFetchedAndDeclinedTestExactly) {
  TCrawlLists lists;
  lists.PageQueue.Append("http://h.de/a.html");
  lists.PageQueue.Append("http://h.de/a.html");
  lists.PageQueue.Append("http://h.de/A.html");
  EXPECT_EQ(lists.PageQueue.Count(), 3u);
  EXPECT_EQ(lists.PageQueue.At(1), "http://h.de/a.html");
  EXPECT_EQ(lists.PageQueue.IdAt(0), lists.PageQueue.IdAt(1));
  EXPECT_EQ(lists.PageQueue.Pool().Count(), 2u);

  lists.FetchedPages.Add("http://h.de/a.html");
  EXPECT_TRUE(lists.FetchedPages.Contains("http://h.de/a.html"));
  EXPECT_FALSE(lists.FetchedPages.Contains("http://h.de/A.html"));
  EXPECT_EQ(lists.FetchedPages.Count(), 1u);

  lists.DeclinedSites.Add("http://g.de/");
  EXPECT_TRUE(lists.DeclinedSites.Contains("http://g.de/"));
  EXPECT_FALSE(lists.DeclinedSites.Contains("http://G.de/"));
}

}  // namespace
