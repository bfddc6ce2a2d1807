// Starts drovask-dap for a session of the debugger type "drovask": the program named by the
// setting drovask.adapterPath, speaking on its standard input and output.
const vscode = require('vscode');

function activate(context) {
    context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('drovask', {
        createDebugAdapterDescriptor() {
            const program = vscode.workspace.getConfiguration('drovask').get('adapterPath');
            return new vscode.DebugAdapterExecutable(program || 'drovask-dap', []);
        },
    }));
}

function deactivate() {}

module.exports = { activate, deactivate };
