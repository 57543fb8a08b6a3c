#include "ulmara/qez/exceptions.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>

namespace qez = ulmara::qez;

namespace {

TEST(ExceptionMessage, JoinsOnlyTheNonEmptyPieces) {
  EXPECT_STREQ(qez::exception("", "", "").what(), "ulmara::qez");
  EXPECT_STREQ(qez::exception("", "commit", "").what(), "ulmara::qez::commit");
  EXPECT_STREQ(qez::exception("dft", "", "").what(), "ulmara::qez::dft");
  EXPECT_STREQ(qez::exception("", "", "text").what(), "ulmara::qez: text");
  EXPECT_STREQ(qez::exception("dft", "commit", "Failed to synchronize queue and cleanup old handle.")
                   .what(),
               "ulmara::qez::dft::commit: Failed to synchronize queue and cleanup old handle.");
}


// Each subclass puts its kind text first, then the caller's text when given.
template <class E>
std::string message_of(const std::string& text) {
  E e("dft", "commit", text);
  const qez::exception& base = e;  // caught as the family base
  return base.what();
}

TEST(ExceptionMessage, SubclassesStartWithTheirKind) {
  const std::string text = "This moved-from descriptor must be re-assigned before reuse.";
  EXPECT_EQ(message_of<qez::uninitialized>(text),
            "ulmara::qez::dft::commit: uninitialized object: " + text);
  EXPECT_EQ(message_of<qez::invalid_argument>(text), "ulmara::qez::dft::commit: invalid argument: " + text);
  EXPECT_EQ(message_of<qez::unimplemented>(""), "ulmara::qez::dft::commit: unimplemented functionality");
  EXPECT_EQ(message_of<qez::computation_error>("x"), "ulmara::qez::dft::commit: computation error: x");
  EXPECT_EQ(message_of<qez::batch_error>(""), "ulmara::qez::dft::commit: batch error");
  EXPECT_EQ(qez::invalid_argument("FFT", "set_workspace", "Sub-buffer workspaces are not supported.").what(),
            std::string("ulmara::qez::FFT::set_workspace: invalid argument: Sub-buffer workspaces are not supported."));
  EXPECT_EQ(qez::unimplemented("dft", "descriptor constructor", "dimension larger than 3 is not implemented.").what(),
            std::string("ulmara::qez::dft::descriptor constructor: unimplemented functionality: "
                        "dimension larger than 3 is not implemented."));
}

TEST(ExceptionMessage, SubclassesAreCaughtAsTheFamilyAndAsStdException) {
  try {
    throw qez::unimplemented("dft", "commit", "Unimplemented support for the attempted configuration.");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(),
                 "ulmara::qez::dft::commit: unimplemented functionality: Unimplemented support for the "
                 "attempted configuration.");
  }
}

// --- lapack classes --------------------------------------------------------

TEST(LapackExceptions, CarryInfoDetailAndDomain) {
  qez::lapack::invalid_argument e("getrf", "bad lda", -4, 7);
  EXPECT_EQ(e.info(), -4);
  EXPECT_EQ(e.detail(), 7);
  EXPECT_STREQ(e.what(), "ulmara::qez::lapack::getrf: invalid argument: bad lda");
  const qez::lapack::exception& part = e;
  EXPECT_STREQ(part.what(), e.what());

  qez::lapack::computation_error c("potrf", "not positive definite", 3);
  EXPECT_EQ(c.info(), 3);
  EXPECT_EQ(c.detail(), 0);
  EXPECT_STREQ(c.what(), "ulmara::qez::lapack::potrf: computation error: not positive definite");
}

TEST(LapackExceptions, CopyAnswersFromItselfAfterTheOriginalIsGone) {
  auto original = std::make_unique<qez::lapack::computation_error>("potrf", "boom", 5);
  qez::lapack::computation_error copy(*original);
  original.reset();
  const qez::lapack::exception& part = copy;
  EXPECT_STREQ(part.what(), "ulmara::qez::lapack::potrf: computation error: boom");
  EXPECT_EQ(part.info(), 5);

  auto other = std::make_unique<qez::lapack::computation_error>("geqrf", "other", 9);
  copy = *other;
  other.reset();
  EXPECT_STREQ(part.what(), "ulmara::qez::lapack::geqrf: computation error: other");
  EXPECT_EQ(part.info(), 9);
}

TEST(LapackExceptions, BatchErrorKeepsIdsAndExceptions) {
  std::vector<std::int64_t> ids{2, 5};
  std::vector<std::exception_ptr> inner{std::make_exception_ptr(std::runtime_error("a")),
                                        std::make_exception_ptr(std::runtime_error("b"))};
  auto original = std::make_unique<qez::lapack::batch_error>("getrf_batch", "2 failed", 2, ids, inner);
  qez::lapack::batch_error copy(*original);
  original.reset();
  EXPECT_EQ(copy.ids(), ids);
  ASSERT_EQ(copy.exceptions().size(), 2u);
  try {
    std::rethrow_exception(copy.exceptions()[1]);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "b");
  }
  const qez::lapack::exception& part = copy;
  EXPECT_STREQ(part.what(), "ulmara::qez::lapack::getrf_batch: batch error: 2 failed");
}

// --- status exceptions -----------------------------------------------------

template <class E>
void expect_status_throws(std::int64_t status, const char* name) {
  SCOPED_TRACE(status);
  try {
    qez::dft::throw_on_dfti_status(status);
    FAIL() << "status " << status << " did not throw";
  } catch (const E& e) {
    EXPECT_STREQ(e.what(), name);
    E copy(e);
    EXPECT_STREQ(copy.what(), name);
  }
}

TEST(StatusMapping, EveryMappedStatusThrowsItsException) {
  expect_status_throws<qez::dft::allocation_failed_exception>(1, "FFT_ALLOC_FAILED");
  expect_status_throws<qez::dft::invalid_descriptor_exception>(2, "FFT_INVALID_DESCRIPTOR");
  expect_status_throws<qez::dft::invalid_descriptor_exception>(3, "FFT_INVALID_DESCRIPTOR");
  expect_status_throws<qez::dft::bad_descriptor_exception>(5, "FFT_BAD_DESCRIPTOR");
  expect_status_throws<qez::dft::unimplemented_exception>(6, "FFT_UNIMPLEMENTED");
  expect_status_throws<qez::dft::internal_error_exception>(7, "FFT_INTERNAL_ERROR");
  expect_status_throws<qez::dft::no_workspace_exception>(11, "FFT_WORKSPACE_NOT_PROVIDED");
}

TEST(StatusMapping, UnmappedStatusesReturn) {
  for (std::int64_t status : {0, 4, 8, 9, 10, 12, 30, 31, 100, -1, -7}) {
    EXPECT_NO_THROW(qez::dft::throw_on_dfti_status(status)) << status;
  }
}

TEST(StatusMapping, StatusExceptionsAreRuntimeErrors) {
  EXPECT_STREQ(qez::dft::uncommitted_descriptor_exception().what(), "FFT_UNCOMMITTED_DESCRIPTOR");
  try {
    qez::dft::throw_on_dfti_status(5);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "FFT_BAD_DESCRIPTOR");
  }
}

}  // namespace
