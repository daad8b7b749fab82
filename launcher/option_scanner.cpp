#include "option_scanner.h"

#include "report.h"

#include <stdlib.h>
#include <string.h>

namespace {

bool is_option(const char *word)
{
    return word[0] == '-' && word[1] != '\0';
}

// Two abbreviated options that do the same are no ambiguity.
bool differ(const long_option &a, const long_option &b)
{
    return a.number != b.number || a.takes_argument != b.takes_argument;
}

} // namespace

option_scanner::option_scanner(int argc, char **argv, const char *short_options, const long_option *options)
    : argc_(argc), argv_(argv), short_options_(short_options), options_(options),
      in_order_(getenv("POSIXLY_CORRECT") != nullptr)
{
}

// Rotates the skipped words behind the options scanned since, keeping the
// order within each group: [skipped][options] becomes [options][skipped].
void option_scanner::move_skipped_words_behind()
{
    const int skipped = last_skipped_ - first_skipped_;
    for (int moved_options = index_ - last_skipped_; moved_options > 0; --moved_options) {
        char *word = argv_[last_skipped_];
        memmove(argv_ + first_skipped_ + 1, argv_ + first_skipped_, skipped * sizeof *argv_);
        argv_[first_skipped_++] = word;
        ++last_skipped_;
    }
    first_skipped_ = index_ - skipped;
    last_skipped_ = index_;
}

int option_scanner::next()
{
    argument_ = nullptr;
    if (letters_ != nullptr && *letters_ != '\0')
        return short_option();
    return next_word();
}

int option_scanner::next_word()
{
    if (!in_order_) {
        if (first_skipped_ != last_skipped_ && last_skipped_ != index_)
            move_skipped_words_behind();
        else if (last_skipped_ != index_)
            first_skipped_ = index_;
        while (index_ < argc_ && !is_option(argv_[index_]))
            ++index_;
        last_skipped_ = index_;
    }
    if (index_ != argc_ && strcmp(argv_[index_], "--") == 0) {
        ++index_;
        if (first_skipped_ != last_skipped_ && last_skipped_ != index_)
            move_skipped_words_behind();
        else if (first_skipped_ == last_skipped_)
            first_skipped_ = index_;
        last_skipped_ = argc_;
        index_ = argc_;
    }
    if (index_ == argc_) {
        // The skipped words are what the caller reads from index() on.
        if (first_skipped_ != last_skipped_)
            index_ = first_skipped_;
        return END;
    }
    if (!is_option(argv_[index_]))
        return END;
    if (argv_[index_][1] == '-')
        return long_option_at(argv_[index_] + 2);
    letters_ = argv_[index_] + 1;
    return short_option();
}

// An exact name wins; else one abbreviation, or a failure that lists them all.
int option_scanner::long_option_at(const char *name)
{
    const char *name_end = name + strcspn(name, "=");
    const size_t length = static_cast<size_t>(name_end - name);
    const long_option *found = nullptr;
    bool ambiguous = false;
    for (const long_option *option = options_; option->name != nullptr; ++option) {
        if (strncmp(option->name, name, length) != 0)
            continue;
        if (strlen(option->name) == length) {
            found = option;
            ambiguous = false;
            break;
        }
        if (found == nullptr)
            found = option;
        else if (differ(*found, *option))
            ambiguous = true;
    }
    const char *prog = argv_[0];
    ++index_;
    if (ambiguous) {
        report("%s: option '--%s' is ambiguous; possibilities:", prog, name);
        for (const long_option *option = options_; option->name != nullptr; ++option)
            if (strncmp(option->name, name, length) == 0 && (option == found || differ(*found, *option)))
                report(" '--%s'", option->name);
        report("\n");
        return FAILED;
    }
    if (found == nullptr)
        return report("%s: unrecognized option '--%s'\n", prog, name), FAILED;
    if (*name_end == '=') {
        if (!found->takes_argument)
            return report("%s: option '--%s' doesn't allow an argument\n", prog, found->name), FAILED;
        argument_ = name_end + 1;
    } else if (found->takes_argument) {
        if (index_ >= argc_)
            return report("%s: option '--%s' requires an argument\n", prog, found->name), FAILED;
        argument_ = argv_[index_++];
    }
    return found->number;
}

int option_scanner::short_option()
{
    const char letter = *letters_++;
    if (*letters_ == '\0')
        ++index_;
    if (strchr(short_options_, letter) == nullptr || letter == ':' || letter == ';')
        return report("%s: invalid option -- '%c'\n", argv_[0], letter), FAILED;
    return letter;
}
