// A board link on an emulated board, with the board's packet trace.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "tests/support/test_support.h"

class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a board file into the boards directory (plugged at the next count).
  void AddBoard(const std::string& file, const std::string& name, const std::string& extra = "");
  // A diagram-window style link (no auto-enumerate) on board `index`.
  std::unique_ptr<TUSBI2C> OpenLink(int index = 0);

  // The commands written since the last Mark(), as "08 12 05 ..." (board index cut off).
  std::vector<std::string> Commands();
  std::vector<std::string> Replies();
  void Mark();

  testsupport::TempDir dir_;
  std::string trace_;
  size_t mark_ = 0;
  std::unique_ptr<TUSBI2C> link_;
};

// "08 12 05 00 04 00 01 30" for a select of `address`.
std::string SelectHex(int address);
std::string Hex(const std::vector<int>& bytes);
