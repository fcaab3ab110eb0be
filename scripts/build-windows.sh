#!/usr/bin/env bash
# Placeholder: the Windows builds are added here.
exit 0
