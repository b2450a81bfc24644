"""Fails unless every kvseal source in COMPILE_COMMANDS was compiled with
_FORTIFY_SOURCE. usage: check_fortify.py COMPILE_COMMANDS"""
import json
import sys

kvseal = [e for e in json.load(open(sys.argv[1])) if "/tools/kvseal/" in e["file"]]
unfortified = [e["file"] for e in kvseal if "-D_FORTIFY_SOURCE=" not in e["command"]]
for source in unfortified:
    print(f"{source}: compiled without _FORTIFY_SOURCE")
sys.exit(1 if unfortified or not kvseal else 0)
