#!/usr/bin/python3
# Configures thermal printers through morvane-cli on the managed host. All
# of the printer logic is the command's: this module builds its argument
# list, runs it with --json and turns its records into Ansible's result.

DOCUMENTATION = r'''
---
module: morvane_printer
short_description: Configure thermal receipt and label printers with morvane-cli
description:
  - Sets the settings of one or more printers on the managed host (serial, USB
    and parallel ports, or network printers as C(tcp://HOST[:PORT])) by running
    C(morvane-cli --json) there, and returns one result per key and port.
  - C(bt-name) and C(bt-password) are read first and are not written again when
    they already hold the value, so a second run of the same play reports them
    unchanged. The other settings cannot be read back and are always sent.
  - A bad key or value fails the task with the command's own message before
    anything is sent.
requirements:
  - morvane-cli on the managed host's PATH (the morvane-cli package)
options:
  port:
    description:
      - The printers' ports, as morvane-cli takes them (C(/dev/ttyUSB0),
        C(USB1:), C(COM3), C(tcp://192.0.2.10:9100)).
    type: list
    elements: str
    required: true
  settings:
    description:
      - Keys and values to set, in this order (C(morvane-cli settings) lists
        them). In a text, C({n}) stands for the printer's place in I(port).
      - 'Quote values that YAML reads as booleans, such as C(beeper: "on").'
      - The value of C(bt-password) is kept out of the logs.
    type: dict
  profile:
    description:
      - A profile file on the managed host, one C(key = value) a line, as
        C(morvane-cli apply) reads it.
    type: path
  verify:
    description: Read C(bt-name) and C(bt-password) back after setting them.
    type: bool
    default: false
  keep_going:
    description: After a key gets no answer, send the printer's other keys anyway.
    type: bool
    default: false
  timeout:
    description: Longest wait for one reply, in milliseconds (the command's default is 1000).
    type: int
  journal:
    description:
      - Passed on to the command as C(--journal FILE), which keeps each printer's
        job there and reads the printer's address and name after it (those reads
        change nothing). Not in check mode, where nothing is done.
    type: path
notes:
  - Check mode runs the command with C(--dry-run), which opens no port and
    reports the frames that would be sent; every key counts as one that would
    change.
author:
  - Morvane
'''

EXAMPLES = r'''
- name: The shop's receipt printers
  morvane_printer:
    port:
      - tcp://192.0.2.21
      - tcp://192.0.2.22
    settings:
      bt-name: "Shop {n}"
      bt-password: "4321"
      darkness: 4
      paper-width: 58mm

- name: The profile kept on the till
  morvane_printer:
    port: [/dev/ttyUSB0]
    profile: /etc/morvane/till.profile
    verify: true
'''

RETURN = r'''
results:
  description: One record per key and port, in the order the command wrote them.
  returned: always
  type: list
  elements: dict
  contains:
    port: {description: The port, as given., type: str}
    key: {description: The setting's key., type: str}
    value: {description: The value set (bt-password's hidden)., type: str}
    result:
      description: ok, refused, no-answer, error or not-sent; in check mode would-set.
      type: str
    changed: {description: Whether this key was set on the printer., type: bool}
    detail: {description: Why it is not ok, or a note., type: str, returned: when the command gave one}
    frame: {description: The frame in hex., type: str, returned: in check mode}
  sample:
    - {port: tcp://192.0.2.21:9100, key: darkness, value: "4", result: ok, changed: true}
changed:
  description: Whether any key was set (in check mode, would be set).
  returned: always
  type: bool
msg:
  description: The keys that failed, by result, or the command's own message.
  returned: on failure
  type: str
'''

import json

from ansible.module_utils.basic import AnsibleModule, _load_params

SECRET_KEYS = frozenset(['bt-password'])
FAILED_RESULTS = ('refused', 'no-answer', 'error', 'not-sent')


def argument_spec(params):
    """The options; the keys given in settings become sub-options of their own,
    so that the secret ones are no_log before anything is logged."""
    settings = params.get('settings')
    keys = settings.keys() if isinstance(settings, dict) else []
    return dict(
        port=dict(type='list', elements='str', required=True),
        settings=dict(type='dict', options=dict((k, dict(type='raw', no_log=k in SECRET_KEYS)) for k in keys)),
        profile=dict(type='path'),
        verify=dict(type='bool', default=False),
        keep_going=dict(type='bool', default=False),
        timeout=dict(type='int'),
        journal=dict(type='path'),
    )


def assignments(module):
    out = []
    for key, value in module.params['settings'].items():
        if isinstance(value, bool):
            module.fail_json(msg='settings.%s: YAML read this value as a boolean; quote it, e.g. %s: "on"' % (key, key))
        out.append('%s=%s' % (key, value))
    return out


def command(module, cli):
    p = module.params
    args = [cli, '--json']
    if module.check_mode:
        args.append('--dry-run')
    else:
        args.append('--skip-same')
        if p['journal']:
            args += ['--journal', p['journal']]
    if p['verify']:
        args.append('--verify')
    if p['keep_going']:
        args.append('--keep-going')
    if p['timeout'] is not None:
        args += ['--timeout', str(p['timeout'])]
    args += ['apply', p['profile']] if p['profile'] else ['set'] + assignments(module)
    for port in p['port']:
        args += ['-p', port]
    return args


def main():
    module = AnsibleModule(
        argument_spec=argument_spec(_load_params()),
        mutually_exclusive=[('settings', 'profile')],
        required_one_of=[('settings', 'profile')],
        supports_check_mode=True,
    )
    cli = module.get_bin_path('morvane-cli', required=True)
    rc, out, err = module.run_command(command(module, cli))
    records = []
    for line in out.splitlines():
        try:
            records.append(json.loads(line))
        except ValueError:
            module.fail_json(msg='morvane-cli wrote a line that is no record: %s' % line, rc=rc, stderr=err)
    if rc == 2 or (not records and rc != 0):
        # Bad usage or input: the command says what, and sent nothing.
        module.fail_json(msg=err.strip() or 'morvane-cli failed (exit status %d)' % rc, rc=rc, results=[])

    results = []
    # In check mode a selector's line says what it stood for: no key of its own.
    for r in (r for r in records if 'key' in r):
        if r.get('key') in SECRET_KEYS and r.get('value'):
            module.no_log_values.add(r['value'])
        result = dict(port=r.get('port'), key=r.get('key'), value=r.get('value'))
        if module.check_mode:
            result.update(result='would-set', changed=True, frame=r.get('frame'))
        else:
            # A read (its value comes with its hex: the journal's reads after
            # a job) changes nothing, nor does a text the printer held already.
            set_now = r.get('result') == 'ok' and not r.get('unchanged', False) and 'hex' not in r
            result.update(result=r.get('result'), changed=set_now)
            if r.get('detail'):
                result['detail'] = r['detail']
        results.append(result)

    changed = any(r['changed'] for r in results)
    failed = {}
    for r in results:
        if r['result'] in FAILED_RESULTS:
            why = ' (%s)' % r['detail'] if r.get('detail') else ''
            failed.setdefault(r['result'], []).append('%s on %s%s' % (r['key'], r['port'], why))
    if failed or rc != 0:
        msg = '; '.join('%s: %s' % (kind, ', '.join(keys)) for kind, keys in sorted(failed.items()))
        module.fail_json(msg=msg or err.strip(), changed=changed, results=results, rc=rc)
    module.exit_json(changed=changed, results=results)


if __name__ == '__main__':
    main()
