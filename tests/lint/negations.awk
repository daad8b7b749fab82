# negations.awk: reads bats files and their helpers the way the shell does
# (quotes, expansions, here-documents, compound commands) and reports every
# command list that fails nothing when a part of it fails: one that starts
# with "!", or one whose last operator is "&&", unless it is the last
# command of its test, function or subshell. Bats runs a test under errexit,
# which ignores both; such a list decides the status only where it is the
# last command. Text inside quotes and here-documents is not code here.
#
# Contexts on the stack: command contexts (FILE, FUNC, GROUP, SUB, BQUOTE)
# and word contexts ('...', $'...', "...", ${...}, $((...)), [[...]],
# array literals).

BEGIN { found = 0 }

FNR == 1 {
    if (NR > 1) end_of_file(previous)
    previous = FILENAME
    start_file()
}

{
    if (in_body) {
        line = $0
        if (heredoc_dash[heredoc_at]) sub(/^\t+/, "", line)
        if (line == heredoc_word[heredoc_at] && ++heredoc_at > heredocs) in_body = 0
        next
    }
    lex($0 "\n")
    if (heredoc_at <= heredocs) in_body = 1
}

END {
    if (NR > 0) end_of_file(previous)
    exit found
}

function start_file() {
    sp = 0
    push("FILE")
    pending = 0
    heredocs = 0
    heredoc_at = 1
    in_body = 0
}

function end_of_file(file) {
    if (in_body || kind[sp] != "FILE")
        confused(file, "the file ends inside " (in_body ? "a here-document" : describe(sp)))
    else if (pending)
        report()
}

function describe(d) {
    return kind[d] " opened at line " opened[d]
}

function confused(file, why) {
    printf "%s: the lint cannot follow the shell syntax: %s\n", file, why
    found = 1
}

function is_command(d) {
    return kind[d] ~ /^(FILE|FUNC|GROUP|SUB|BQUOTE)$/
}

function push(k) {
    sp++
    kind[sp] = k
    opened[sp] = FNR
    at_start[sp] = 1
    and_line[sp] = 0
    not_line[sp] = 0
    last_op[sp] = ""
    conditions[sp] = 0
    in_condition[sp] = sp > 1 && (conditions[sp - 1] > 0 || in_condition[sp - 1])
    cases[sp] = 0
    case_state[sp] = 0
    function_next[sp] = 0
    in_word[sp] = 0
    word[sp] = ""
    quoted[sp] = 0
    name_before[sp] = 0
    parens[sp] = 0
}

function pop() {
    if (sp <= 1) {
        confused(FILENAME, "a closing word without an opening one at line " FNR)
        return
    }
    sp--
}

# The pending list is settled by the token after it: a function's or a
# subshell's end makes it the last command; the end of a group or of an
# if, a loop or a case passes the question on; anything else makes it
# one that fails nothing.
function report() {
    if (pending_kind == "!")
        printf "%s:%d: a bare \"!\" that is not the last command fails nothing: %s\n",
            pending_file, pending_line, pending_text
    else
        printf "%s:%d: a list ending in \"&&\" that is not the last command fails nothing when its first part fails: %s\n",
            pending_file, pending_line, pending_text
    found = 1
    pending = 0
}

function settle() {
    if (pending) report()
}

function list_end() {
    if ((and_line[sp] || not_line[sp]) && conditions[sp] == 0 && !in_condition[sp]) {
        settle()
        pending = 1
        pending_file = FILENAME
        pending_kind = and_line[sp] ? "&&" : "!"
        pending_line = and_line[sp] ? and_line[sp] : not_line[sp]
        pending_text = and_line[sp] ? and_text[sp] : not_text[sp]
    }
    and_line[sp] = 0
    not_line[sp] = 0
    last_op[sp] = ""
    at_start[sp] = 1
    name_before[sp] = 0
}

function text_of_line() {
    t = $0
    sub(/^[ \t]+/, "", t)
    return t
}

function begin_word() {
    if (!in_word[sp]) {
        in_word[sp] = 1
        word[sp] = ""
        quoted[sp] = 0
    }
}

function end_word() {
    if (in_word[sp]) {
        in_word[sp] = 0
        handle_word(word[sp], quoted[sp])
    }
}

function handle_word(w, q,    start) {
    if (kind[sp] == "TEST") return
    start = at_start[sp]
    name_before[sp] = 0
    if (!q && w == "}" && start && (kind[sp] == "FUNC" || kind[sp] == "GROUP")) {
        if (kind[sp] == "FUNC") pending = 0
        pop()
        at_start[sp] = 0
        return
    }
    if (!q && start && (w == "fi" || w == "done" || w == "esac")) {
        if (w == "esac" && cases[sp]) { cases[sp]--; case_state[sp] = 0 }
        at_start[sp] = 0
        return
    }
    settle()
    last_op[sp] = ""
    if (case_state[sp] == 1) {
        if (!q && w == "in") case_state[sp] = 2
        return
    }
    if (case_state[sp] == 2) {
        if (!q && w == "esac") { cases[sp]--; case_state[sp] = 0; at_start[sp] = 0 }
        return
    }
    if (!q && function_next[sp] && w == "{") {
        function_next[sp] = 0
        push("FUNC")
        return
    }
    if (q || !start) {
        at_start[sp] = 0
        return
    }
    if (w ~ /^(if|elif|while|until)$/) { conditions[sp]++; return }
    if (w == "then" || w == "do") { if (conditions[sp]) conditions[sp]--; return }
    if (w == "else" || w == "time") return
    if (w == "!") {
        if (!not_line[sp]) { not_line[sp] = FNR; not_text[sp] = text_of_line() }
        return
    }
    if (w == "{") { push("GROUP"); return }
    if (w == "[[") { push("TEST"); return }
    if (w == "case") { cases[sp]++; case_state[sp] = 1; at_start[sp] = 0; return }
    if (w == "@test" || w == "function") { function_next[sp] = 1; at_start[sp] = 0; return }
    at_start[sp] = 0
    name_before[sp] = w ~ /^[A-Za-z_][A-Za-z_0-9]*$/
}

function operator() {
    end_word()
    settle()
}

# lex TEXT: one line and its newline.
function lex(s,    i, n, c, c2, c3) {
    n = length(s)
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        c2 = substr(s, i, 2)
        c3 = substr(s, i, 3)
        if (kind[sp] == "SQUOTE") {
            if (c == "'") pop()
            continue
        }
        if (kind[sp] == "ANSI") {
            if (c == "\\") i++
            else if (c == "'") pop()
            continue
        }
        if (kind[sp] == "ARITH") {
            if (c == "(") parens[sp]++
            else if (c == ")") {
                if (parens[sp]) parens[sp]--
                else { if (substr(s, i + 1, 1) == ")") i++; pop() }
            } else i = expansion(s, i, c, c2, c3)
            continue
        }
        if (!is_command(sp) && kind[sp] != "TEST") {
            # "...", ${...} and array literals.
            if (c == "\\") i++
            else if (kind[sp] == "DQUOTE" && c == "\"") pop()
            else if (kind[sp] == "PARAM" && c == "}") pop()
            else if (kind[sp] == "ARRAY" && c == ")") pop()
            else if (kind[sp] != "DQUOTE" && c == "'") push("SQUOTE")
            else if (kind[sp] != "DQUOTE" && c == "\"") push("DQUOTE")
            else i = expansion(s, i, c, c2, c3)
            continue
        }
        # A command context, or [[ ... ]], whose words matter only for
        # where they end.
        if (c == "\\") {
            # A backslash at the end of a line joins it to the next.
            if (substr(s, i + 1, 1) != "\n") { begin_word(); quoted[sp] = 1 }
            i++
            continue
        }
        if (c == " " || c == "\t") { end_word(); continue }
        if (c == "\n") {
            end_word()
            if (kind[sp] != "TEST" && last_op[sp] == "") list_end()
            continue
        }
        if (kind[sp] == "TEST") {
            if (c2 == "]]" && !in_word[sp] && substr(s, i + 2, 1) ~ /[ \t\n;&|)]/) { i++; pop(); at_start[sp] = 0; continue }
            if (c ~ /[&|<>()!;]/ && !in_word[sp]) continue
        }
        if (c == "#" && !in_word[sp]) { i = n - 1; continue }
        if (c == "'") { begin_word(); quoted[sp] = 1; push("SQUOTE"); continue }
        if (c2 == "$'") { begin_word(); quoted[sp] = 1; push("ANSI"); i++; continue }
        if (c == "\"" || c2 == "$\"") { begin_word(); quoted[sp] = 1; push("DQUOTE"); if (c == "$") i++; continue }
        if (c == "`" && kind[sp] == "BQUOTE") { end_word(); close_subshell(); continue }
        if (c == "$" || c == "`") {
            begin_word()
            quoted[sp] = 1
            i = expansion(s, i, c, c2, c3)
            continue
        }
        if (kind[sp] == "TEST") { begin_word(); word[sp] = word[sp] c; continue }
        if (c3 == "<<<") { operator(); i += 2; continue }
        if (c2 == "<<") { operator(); i = heredoc(s, i + 2); continue }
        if (c2 == "&&") {
            operator()
            if (!and_line[sp]) { and_line[sp] = FNR; and_text[sp] = text_of_line() }
            last_op[sp] = "&&"
            at_start[sp] = 1
            i++
            continue
        }
        if (c2 == "||") {
            operator()
            and_line[sp] = 0
            not_line[sp] = 0
            last_op[sp] = "||"
            at_start[sp] = 1
            i++
            continue
        }
        if (c3 == ";;&" || c2 == ";;" || c2 == ";&") {
            end_word()
            list_end()
            case_state[sp] = 2
            i += c3 == ";;&" ? 2 : 1
            continue
        }
        if (c == ";") { end_word(); list_end(); continue }
        if (c == "|") {
            operator()
            if (case_state[sp] != 2) { last_op[sp] = "|"; at_start[sp] = 1 }
            if (c2 == "|&") i++
            continue
        }
        if (c2 == "&>" || c2 == ">&" || c2 == "<&") { operator(); i++; continue }
        if (c == "&") { end_word(); list_end(); continue }
        if ((c2 == "<(" || c2 == ">(") && !in_word[sp]) { operator(); push("SUB"); i++; continue }
        if (c == "<" || c == ">") { operator(); continue }
        if (c == "(") { i = open_paren(s, i); continue }
        if (c == ")") {
            end_word()
            if (case_state[sp] == 2) { case_state[sp] = 0; at_start[sp] = 1 }
            else if (kind[sp] == "SUB") close_subshell()
            else confused(FILENAME, "a \")\" without its \"(\" at line " FNR)
            continue
        }
        begin_word()
        word[sp] = word[sp] c
    }
}

# expansion: $'...', $"...", $((...)), $(...), ${...}, `...` or a plain
# character inside a word context; returns where the scan goes on.
function expansion(s, i, c, c2, c3) {
    if (c3 == "$((") { push("ARITH"); return i + 2 }
    if (c2 == "$(") { push("SUB"); return i + 1 }
    if (c2 == "${") { push("PARAM"); return i + 1 }
    if (c2 == "$'" && kind[sp] != "DQUOTE") { push("ANSI"); return i + 1 }
    if (c == "`") { push("BQUOTE"); return i }
    if (c == "$" && c2 ~ /^\$[#?$!@*0-9-]$/) return i + 1
    return i
}

function close_subshell() {
    # The list that ends here is the subshell's last command: its status
    # is the subshell's.
    pending = 0
    pop()
    at_start[sp] = 0
    if (is_command(sp)) last_op[sp] = ""
}

function open_paren(s, i,    rest) {
    if (in_word[sp] && word[sp] ~ /=$/) { push("ARRAY"); return i }
    if (substr(s, i + 1, 1) == "(" && !in_word[sp]) {
        operator()
        at_start[sp] = 0
        push("ARITH")
        return i + 1
    }
    end_word()
    if (case_state[sp] == 2) return i
    rest = substr(s, i + 1)
    if ((name_before[sp] || function_next[sp]) && rest ~ /^[ \t]*\)/) {
        # name (): a function definition; its body comes next.
        function_next[sp] = 1
        at_start[sp] = 1
        return i + index(rest, ")")
    }
    settle()
    push("SUB")
    return i
}

# heredoc TEXT I: reads the delimiter of a here-document that starts at I
# (after "<<"); its body begins on the next line.
function heredoc(s, i,    dash, q, delimiter, c) {
    dash = substr(s, i, 1) == "-"
    if (dash) i++
    while (substr(s, i, 1) ~ /[ \t]/) i++
    q = substr(s, i, 1)
    delimiter = ""
    if (q == "'" || q == "\"") {
        for (i++; i <= length(s) && substr(s, i, 1) != q; i++) delimiter = delimiter substr(s, i, 1)
    } else {
        for (; i <= length(s); i++) {
            c = substr(s, i, 1)
            if (c ~ /[ \t\n;&|<>()]/) break
            if (c != "\\" && c != "'" && c != "\"") delimiter = delimiter c
        }
        i--
    }
    heredocs++
    heredoc_word[heredocs] = delimiter
    heredoc_dash[heredocs] = dash
    return i
}
