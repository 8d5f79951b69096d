# Job: the workflow files' validator, from the npm registry, kept once a machine in the cache.

OMBRIN_WORKFLOW_VALIDATOR_VERSION=0.6.0
# The checkout's link to it in the machine-wide cache.
OMBRIN_WORKFLOW_VALIDATOR=$OMBRIN_ROOT/build/action-validator

# Installs Node.js and npm from Debian where the machine has no npm, and the validator where the cache lacks it.
ombrin_workflow_validator() {
    command -v npm >/dev/null || ombrin_install workflows || return 1
    ombrin_cached action-validator "@action-validator/cli $OMBRIN_WORKFLOW_VALIDATOR_VERSION, node $(node --version)" \
        "$OMBRIN_WORKFLOW_VALIDATOR" ombrin_install_workflow_validator
}

# ombrin_workflow_validator's work, into the empty folder $1.
ombrin_install_workflow_validator() {
    echo "Installing @action-validator/cli $OMBRIN_WORKFLOW_VALIDATOR_VERSION from the npm registry"
    npm install --prefix "$1" --no-audit --no-fund --no-save --loglevel=error \
        "@action-validator/cli@$OMBRIN_WORKFLOW_VALIDATOR_VERSION" >/dev/null || {
        echo "npm could not install @action-validator/cli $OMBRIN_WORKFLOW_VALIDATOR_VERSION." >&2
        return 1
    }
}

# Validates every workflow file, and shows that planted errors are caught (tests/check_workflows.py).
ombrin_check_workflows() {
    ombrin_workflow_validator &&
        python3 -B "$OMBRIN_ROOT/tests/check_workflows.py" "$OMBRIN_WORKFLOW_VALIDATOR/node_modules/.bin/action-validator"
}
