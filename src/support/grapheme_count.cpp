#include "support/grapheme_count.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

#include <memory>

namespace vurin {
namespace {

// Creating a break iterator loads ICU's rule data; one per thread keeps later counts cheap
// without sharing an iterator (they are not thread-safe).
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    return iterator.get();
}

// Fallback when ICU cannot give an iterator: code points, which is exact for most dictation.
std::size_t codePointCount(std::string_view text) {
    std::size_t count = 0;
    for (const char byte : text) {
        if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

}  // namespace

std::size_t graphemeCount(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    icu::BreakIterator* iterator = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (iterator == nullptr || U_FAILURE(status)) {
        utext_close(utext);
        return codePointCount(text);
    }
    iterator->setText(utext, status);
    std::size_t count = 0;
    if (U_SUCCESS(status)) {
        iterator->first();
        while (iterator->next() != icu::BreakIterator::DONE) {
            ++count;
        }
    } else {
        count = codePointCount(text);
    }
    // Detach the iterator from the UText before closing it.
    UErrorCode resetStatus = U_ZERO_ERROR;
    static const char16_t kEmpty[] = u"";
    UText* empty = utext_openUChars(nullptr, kEmpty, 0, &resetStatus);
    iterator->setText(empty, resetStatus);
    utext_close(empty);
    utext_close(utext);
    return count;
}

}  // namespace vurin
