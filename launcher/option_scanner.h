// The command-line scanner: GNU getopt_long's behaviour and messages, with
// its state in an object instead of globals. musl's getopt_long words its
// messages differently; the launcher's stay as they have always been.
#ifndef VORLAN_OPTION_SCANNER_H
#define VORLAN_OPTION_SCANNER_H

// A long option: "--name", "--name=ARG" or "--name ARG", and any unique
// abbreviation of the name. number is what next() returns for it, above 255
// or below ' ' so that it never reads as a short option's letter.
struct long_option {
    const char *name;
    bool takes_argument;
    int number;
};

class option_scanner {
public:
    // What next() returns besides an option's number or letter.
    static constexpr int END = -1;     // no more options; index() is the first word left
    static constexpr int FAILED = '?'; // reported on standard error

    // short_options: letters that take no argument; options: ends with a null name.
    option_scanner(int argc, char **argv, const char *short_options, const long_option *options);

    // Words that are not options are moved behind the options, in order,
    // unless POSIXLY_CORRECT is set: then the first of them ends the scan.
    // "--" ends it too.
    int next();
    // The argument of the long option just returned.
    const char *argument() const { return argument_; }
    // The next word to scan.
    int index() const { return index_; }

private:
    int next_word();
    int long_option_at(const char *name);
    int short_option();
    void move_skipped_words_behind();

    int argc_;
    char **argv_;
    const char *short_options_;
    const long_option *options_;
    bool in_order_;
    int index_ = 1;
    // The words skipped so far, argv_[first_skipped_, last_skipped_).
    int first_skipped_ = 1;
    int last_skipped_ = 1;
    const char *letters_ = nullptr;  // the rest of a word of short options
    const char *argument_ = nullptr;
};

#endif
