#!/usr/bin/env python3
"""Plants small faults in the product code, one at a time, and counts how many the
test suite catches.

Each fault replaces one exact piece of source text (a flipped comparison, an
off-by-one, a dropped call). The tree is copied first (build folders left out), so
the working tree is never touched; every fault is built in that copy and the unit,
end-to-end and browser tests run against it, stopping at the first failure.

    scripts/plant_faults.py [--only NAME...] [--keep-copy]

Prints one line a fault (caught, missed, or stale when its text is no longer in the
source) and the totals. Run it as root to keep the tests in a network namespace of
their own, as scripts/test.sh does.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

# (name, file, text as it stands, text with the fault); where code has moved between
# files, the file is a tuple of the places it may stand in, and the fault is planted
# in the one that holds the text.
FAULTS = [
    # rules
    ('search-case-fold', 'src/rules/byte_search.cc',
     'if (AsciiToLower(at[i]) != AsciiToLower(needle[i])) return false;',
     'if (at[i] != needle[i]) return false;'),
    ('search-short-tail', 'src/rules/byte_search.cc',
     'for (; at <= last; ++at)', 'for (; at < last; ++at)'),
    ('probe-folds-letters-only', 'src/rules/byte_search.cc',
     'probe.fold = noCase && IsLowerLetter(c) ? 0x20 : 0;', 'probe.fold = noCase ? 0x20 : 0;'),
    ('marker-needs-boundary', 'src/rules/element_markers.cc',
     "if (c == ' ' || c == '>') return at;", "if (c == ' ') return at;"),
    ('nesting-count', 'src/rules/element_markers.cc',
     'if (--count == 0) {', 'if (--count == 1) {'),
    ('attribute-value-end', 'src/rules/attribute_test.cc',
     "return after == area.size() || IsBlankByte(area[after]) || IsQuote(area[after]) ||",
     "return after == area.size() || IsBlankByte(area[after]) ||"),
    ('header-value-end', 'src/rules/traffic_fields.cc',
     "while (end < all.size() && all[end] != ' ' && all[end] != '\\r' && all[end] != '\\n') ++end;",
     "while (end < all.size() && all[end] != '\\r' && all[end] != '\\n') ++end;"),
    ('replace-action', ('src/rules/rule_set.cc', 'src/rules/content_rewrite.cc'),
     'if (lowerAction.find("replace") != std::string_view::npos) return ContentAction::kReplace;',
     'if (lowerAction == "replace") return ContentAction::kReplace;'),
    # proxy
    ('status-code-interim', 'src/proxy/message_framing.cc',
     'head.interim = status < 200;', 'head.interim = status <= 200;'),
    ('no-body-for-304', 'src/proxy/message_framing.cc',
     'status == 204 || status == 304) return;', 'status == 204) return;'),
    ('content-length-overflow', 'src/proxy/message_framing.cc',
     'if (value > (kMaxContentLength - digit) / 10) return false;',
     'if (value > kMaxContentLength) return false;'),
    ('differing-lengths', 'src/proxy/message_framing.cc',
     'if (!valid || (fields.contentLength && number != fields.length)) {',
     'if (!valid) {'),
    ('chunk-size-digits', 'src/proxy/message_framing.cc',
     'if (m_sizeDigits == 0) return false;', 'if (m_sizeDigits < 0) return false;'),
    ('bare-cr', 'src/proxy/message_framing.cc',
     "if (cr + 1 == head.size() || head[cr + 1] != '\\n') return true;",
     "if (cr + 1 == head.size()) return true;"),
    ('port-range', ('src/proxy/port_text.cc', 'src/proxy/request_text.cc'),
     ('if (value > kMaxPort) return 0;', 'return value <= 65535 ? value : 0;'),
     ('if (value > kMaxPort + 1) return 0;', 'return value <= 65536 ? value : 0;')),
    ('bracketed-host', 'src/proxy/request_text.cc',
     'result.host = authority.substr(1, close - 1);',
     'result.host = authority.substr(0, close);'),
    ('answer-order', 'src/proxy/answer_order.cc',
     'if (m_owed.empty() || m_owed.front().upstream != upstream) return;',
     'if (m_owed.empty()) return;'),
    ('private-172', 'src/proxy/peer_access.cc',
     'InNetwork(address, 0xAC100000, 12)', 'InNetwork(address, 0xAC100000, 13)'),
    ('slot-capacity', 'src/proxy/connection_slots.cc',
     'return m_taken < m_capacity; });', 'return m_taken <= m_capacity; });'),
    # xml
    ('numeric-reference-end', 'src/xml/xml_reader.cc',
     "if (i == firstDigit || i >= text.size() || text[i] != ';' || !IsXmlCharacter(value)) return 0;",
     "if (i >= text.size() || text[i] != ';' || !IsXmlCharacter(value)) return 0;"),
    ('utf8-length', 'src/xml/xml_reader.cc',
     'const int trailing = c < 0x800 ? 1 : (c < 0x10000 ? 2 : 3);',
     'const int trailing = c < 0x800 ? 1 : (c <= 0x10000 ? 2 : 3);'),
    ('hex-digit', 'src/xml/xml_reader.cc',
     "return hex && lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;",
     "return hex && lower >= 'a' && lower <= 'f' ? lower - 'a' : -1;"),
    ('control-escape', 'src/xml/xml_writer.cc',
     'return static_cast<unsigned char>(c) < 0x20 ? kReplacementCharacter : std::string_view();',
     'return static_cast<unsigned char>(c) < 0x09 ? kReplacementCharacter : std::string_view();'),
    ('child-index', 'src/xml/xml_node.cc',
     'if (index < 0 || index >= GetChildCount()) return nullptr;',
     'if (index < 0 || index > GetChildCount()) return nullptr;'),
    ('copy-children-order', 'src/xml/xml_node.cc',
     'target->m_children[firstNew + i - 1].get());', 'target->m_children[firstNew + count - i].get());'),
    # config
    ('recorder-state-range', 'src/config/page_recorder.cc',
     'if (state < kRecorderStopped || state > kRecorderRecording) return;',
     'if (state < kRecorderStopped || state >= kRecorderRecording) return;'),
    ('record-only-while-recording', 'src/config/page_recorder.cc',
     'if (GetState() != kRecorderRecording || m_recordClosed) return false;',
     'if (m_recordClosed) return false;'),
    ('history-cap', 'src/config/url_history.cc',
     'if (m_entries.size() >= kMaxEntries) m_entries.erase(m_entries.begin());',
     'if (m_entries.size() > kMaxEntries) m_entries.erase(m_entries.begin());'),
    ('allowlan-written', 'src/config/config_accessors.cc',
     'if (allowLan != nullptr) allowLan->SetText(CPooledString(allowed ? "yes" : "no"));',
     'if (allowLan != nullptr) allowLan->SetText(CPooledString("yes"));'),
    ('rule-index-bound', 'src/config/config_accessors.cc',
     'if (index < 0 || index >= GetRuleCount(document)) return;',
     'if (index < 0) return;'),
    ('backup-before-save', 'src/config/config_store.cc',
     'if (root == nullptr || !BackUpBeforeReplacing(path)) {', 'if (root == nullptr) {'),
    # app
    ('update-minor', 'src/app/update_check.cc',
     'if (onlineMajor > installedMajor || onlineMinor > installedMinor) {',
     'if (onlineMajor > installedMajor) {'),
    ('update-filter-version', 'src/app/update_check.cc',
     'if (online->filterVersion > configVersion) {', 'if (online->filterVersion >= configVersion) {'),
    ('update-number-sign', 'src/app/update_answer.cc',
     "if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';",
     "if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '+';"),
    ('panel-host-names', 'src/app/panel/panel_security.cc',
     'return name == "127.0.0.1" || EqualsNoCase(name, "localhost") || name == "[::1]";',
     'return name == "127.0.0.1" || EqualsNoCase(name, "localhost") || !name.empty();'),
    ('panel-token-length', 'src/app/panel/panel_security.cc',
     'if (expected.empty() || given.size() != expected.size()) return false;',
     'if (given.size() != expected.size()) return false;'),
    ('panel-fetch-site', 'src/app/panel/panel_access.cc',
     'return site == nullptr || IsOwnFetchSite(*site);', 'return true;'),
    ('dialog-cap', 'src/app/panel/dialog_queue.cc',
     'if (m_dialogs.size() >= kMaxDialogs) DropOldestMessage();\n  m_dialogs.push_back',
     'if (m_dialogs.size() > kMaxDialogs) DropOldestMessage();\n  m_dialogs.push_back'),
]

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIPPED = ('build', 'build-fuzz', 'node_modules', '.git')


def copy_tree(target):
    def ignore(folder, names):
        return [n for n in names if folder == ROOT and (n in SKIPPED or n.startswith('build'))]
    shutil.copytree(ROOT, target, ignore=ignore, symlinks=True)
    modules = os.path.join(ROOT, 'node_modules')
    if os.path.isdir(modules):
        os.symlink(os.path.realpath(modules), os.path.join(target, 'node_modules'))


def offline(command):
    if os.geteuid() == 0 and subprocess.run(['unshare', '-n', 'true']).returncode == 0:
        return ['unshare', '-n', 'sh', '-c', 'ip link set lo up && exec "$@"', 'offline'] + command
    return command


def build(tree):
    return subprocess.run(['cmake', '--build', os.path.join(tree, 'build'), '--target',
                           'lumbra', 'lumbra_tests'],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def suite_passes(tree):
    # Most end-to-end tests wait on the network and on time limits, not on the
    # processor: twice as many at once as there are processors keeps it busy.
    jobs = str(2 * (os.cpu_count() or 1))
    # A test that fails once on a busy machine is run again, as scripts/test.sh does,
    # so that only a fault, not the load, counts as caught.
    command = offline(['ctest', '-j', jobs, '--stop-on-failure', '--timeout', '300',
                       '--repeat', 'until-pass:2'])
    result = subprocess.run(command, cwd=os.path.join(tree, 'build'),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    failed = re.findall(r'Test +#\d+: (\S+) \.*\s*\*\*\*', result.stdout)
    return result.returncode == 0, failed[:1]


def places(field):
    return field if isinstance(field, tuple) else (field,)


def candidates(fault):
    """(file, text as it stands, text with the fault) for each place the fault may go."""
    _, paths, originals, planteds = fault
    paths = places(paths)

    def per_path(texts):
        return texts if isinstance(texts, tuple) else (texts,) * len(paths)
    return zip(paths, per_path(originals), per_path(planteds))


def try_fault(tree, fault):
    for path, original, planted in candidates(fault):
        source = os.path.join(tree, path)
        if not os.path.exists(source):
            continue
        with open(source, encoding='utf-8') as f:
            text = f.read()
        if text.count(original) == 1:
            break
    else:
        return 'stale', ''
    with open(source, 'w', encoding='utf-8') as f:
        f.write(text.replace(original, planted))
    try:
        if not build(tree):
            return 'caught', 'does not build'
        passed, failed = suite_passes(tree)
        return ('missed', '') if passed else ('caught', failed[0] if failed else '')
    finally:
        with open(source, 'w', encoding='utf-8') as f:
            f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--only', nargs='*', help='names of the faults to plant')
    parser.add_argument('--keep-copy', action='store_true', help='keep the copied tree')
    args = parser.parse_args()
    # A stopped run still puts the planted source back and removes its copy.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit('stopped'))
    faults = [f for f in FAULTS if not args.only or f[0] in args.only]

    work = tempfile.mkdtemp(prefix='lumbra-faults-')
    tree = os.path.join(work, 'tree')
    try:
        copy_tree(tree)
        subprocess.run(['cmake', '-S', tree, '-B', os.path.join(tree, 'build'), '-G', 'Ninja',
                        '-DCMAKE_BUILD_TYPE=RelWithDebInfo'], check=True, stdout=subprocess.DEVNULL)
        if not build(tree) or not suite_passes(tree)[0]:
            sys.exit('the suite does not pass without faults; nothing to count')
        counts = {'caught': 0, 'missed': 0, 'stale': 0}
        for fault in faults:
            verdict, detail = try_fault(tree, fault)
            counts[verdict] += 1
            print(f'{verdict:7} {fault[0]:28} {places(fault[1])[0]}  {detail}', flush=True)
        print(f'caught {counts["caught"]} of {len(faults)} '
              f'(missed {counts["missed"]}, stale {counts["stale"]})')
    finally:
        if args.keep_copy:
            print('copy kept in', tree)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
