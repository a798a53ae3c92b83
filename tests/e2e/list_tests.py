# SPDX-License-Identifier: Apache-2.0
"""list_tests.py FILE...: prints the id (module.Class.test_name) of every test
method in the given unittest files, one a line, without importing them.

The build runs it when it configures, and makes ctest tests of them (one a
class, one a long method), which ctest runs side by side, each in its own
sandbox.
A class's tests include those it inherits from classes of the same file.
"""
import ast
import os
import sys


def test_ids(path):
    module = os.path.splitext(os.path.basename(path))[0]
    with open(path) as source:
        tree = ast.parse(source.read(), path)
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}

    def methods(name, seen=()):
        node = classes.get(name)
        if node is None or name in seen:
            return []
        inherited = [m for base in node.bases if isinstance(base, ast.Name)
                     for m in methods(base.id, seen + (name,))]
        own = [f.name for f in node.body
               if isinstance(f, ast.FunctionDef) and f.name.startswith("test")]
        return inherited + [m for m in own if m not in inherited]

    return [f"{module}.{name}.{method}" for name in classes for method in methods(name)]


if __name__ == "__main__":
    for path in sys.argv[1:]:
        for test_id in test_ids(path):
            print(test_id)
